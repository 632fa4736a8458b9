// The platform's standard resources of an executable or add-on file: their type codes, ids and
// names, and the layouts of their data.
#ifndef PLATFORM_RESOURCES_H
#define PLATFORM_RESOURCES_H

#include "Resource.h"

// Icons: one byte a pixel, row by row, indices into the system colour map (ColorMap.h).
const uint32 kLargeIconType = TypeCode("ICON");
const uint32 kMiniIconType = TypeCode("MICN");
const int32 kIconResourceId = 101;
const char* const kLargeIconName = "BEOS:L:STD_ICON";
const char* const kMiniIconName = "BEOS:M:STD_ICON";
const int32 kLargeIconSide = 32;
const int32 kMiniIconSide = 16;

// MIME strings, stored with their terminating NUL.
const uint32 kMimeStringType = TypeCode("MIMS");
const int32 kFileTypeResourceId = 2;
const char* const kFileTypeName = "BEOS:TYPE";
const int32 kSignatureResourceId = 1;
const char* const kSignatureName = "BEOS:APP_SIG";

// The version record: five little-endian uint32 (major, middle, minor, variety, internal),
// then the short and the long description, each NUL-terminated in a fixed-size field.
const uint32 kVersionInfoType = TypeCode("APPV");
const int32 kVersionResourceId = 1;
const char* const kVersionName = "BEOS:APP_VERSION";
const size_t kVersionNumberCount = 5;
const size_t kShortInfoSize = 64;
const size_t kLongInfoSize = 256;
const size_t kVersionInfoSize = kVersionNumberCount * 4 + kShortInfoSize + kLongInfoSize;
const size_t kShortInfoOffset = kVersionNumberCount * 4;
const size_t kLongInfoOffset = kShortInfoOffset + kShortInfoSize;

// The release stages a version record's variety counts.
const char* const kVarietyNames[] = {"development", "alpha",         "beta",
                                     "gamma",       "golden master", "final"};
const size_t kVarietyCount = sizeof(kVarietyNames) / sizeof(kVarietyNames[0]);

// A flattened message, as this system stores one: little-endian uint32 `what` and field count.
// Only messages without fields are written or shown.
const uint32 kMessageType = TypeCode("MSGG");
const int32 kFileTypesResourceId = 1;
const char* const kFileTypesName = "BEOS:FILE_TYPES";
const size_t kEmptyMessageSize = 8;

#endif // PLATFORM_RESOURCES_H
