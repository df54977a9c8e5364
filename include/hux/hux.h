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

// Values
#include <hux/value/geometry.h>
#include <hux/value/property.h>
#include <hux/value/variant.h>

// Diagnostics: assertions
#include <hux/diag/assert.h>

// Platform layer
#include <hux/platform/coredump.h>
#include <hux/platform/debug.h>

// Utilities: strings
#include <hux/util/inputparser.h>
#include <hux/util/stringtrans.h>
