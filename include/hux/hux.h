// Umbrella header: every public header of the library.
#pragma once

#include <hux/export.h>

// Archive and I/O devices
#include <hux/io/archive.h>
#include <hux/io/filestream.h>
#include <hux/io/iodevice.h>
#include <hux/io/memstream.h>

// Object model
#include <hux/object/base.h>
#include <hux/object/datatype.h>
#include <hux/object/factory.h>
#include <hux/object/referenced.h>

// Diagnostics
#include <hux/diag/error.h>
#include <hux/diag/logmanager.h>
#include <hux/diag/profiler.h>
#include <hux/diag/qprofile.h>

// Platform layer
#include <hux/platform/clock.h>
#include <hux/platform/debug.h>
#include <hux/platform/process.h>
#include <hux/platform/procstatus.h>
#include <hux/platform/timers.h>

// Utilities
#include <hux/util/mutex.h>
#include <hux/util/singleton.h>
#include <hux/util/stopwatch.h>
#include <hux/util/timer.h>
