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
#include <hux/object/dbdevice.h>
#include <hux/object/entity.h>
#include <hux/object/factory.h>
#include <hux/object/mapped_memory.h>
#include <hux/object/objtag.h>
#include <hux/object/project.h>
#include <hux/object/referenced.h>
#include <hux/object/weak_ptr.h>

// Values and properties
#include <hux/value/geometry.h>
#include <hux/value/property.h>
#include <hux/value/variant.h>

// Regeneration
#include <hux/regen/atom.h>
#include <hux/regen/container.h>
#include <hux/regen/relation.h>
#include <hux/regen/scheduler.h>

// Notification and selection
#include <hux/notify/selection.h>
#include <hux/notify/subject.h>

// Diagnostics
#include <hux/diag/assert.h>
#include <hux/diag/error.h>
#include <hux/diag/logmanager.h>
#include <hux/diag/profiler.h>
#include <hux/diag/qprofile.h>

// Utilities
#include <hux/util/bitwise.h>
#include <hux/util/color.h>
#include <hux/util/endian.h>
#include <hux/util/inputparser.h>
#include <hux/util/mutex.h>
#include <hux/util/random.h>
#include <hux/util/singleton.h>
#include <hux/util/stopwatch.h>
#include <hux/util/stringtrans.h>
#include <hux/util/system.h>
#include <hux/util/timer.h>

// Platform layer
#include <hux/platform/clock.h>
#include <hux/platform/coredump.h>
#include <hux/platform/debug.h>
#include <hux/platform/mapped_file.h>
#include <hux/platform/process.h>
#include <hux/platform/procstatus.h>
#include <hux/platform/timers.h>
