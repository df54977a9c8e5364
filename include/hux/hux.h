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

// Platform layer
#include <hux/platform/debug.h>

// Regeneration
#include <hux/regen/atom.h>
#include <hux/regen/container.h>
#include <hux/regen/relation.h>
#include <hux/regen/scheduler.h>

// Notification and selection
#include <hux/notify/selection.h>
#include <hux/notify/subject.h>
