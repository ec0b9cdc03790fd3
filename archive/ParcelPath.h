// Path splitting inside a packed archive, where only the backslash separates folders.
#pragma once

#include <string>

#include <windows.h>

// Names and folder paths are stored in 256-byte fields with their terminator.
enum { PARCEL_NAME_SIZE = 256 };

// Directory part: up to and including the last backslash, empty when there
// is none or the only one is the first character; name part: the rest (or
// the whole path in those two cases).
void ParcelSplitPath(const char *path, std::string *dir, std::string *name);
// A folder path as the folder tree keys it: a non-empty path ends in a backslash.
std::string ParcelFolderKey(const char *path);
// Last component of a folder path, without its backslash (empty for the root).
std::string ParcelFolderName(const char *folderPath);
// What follows the name's last full stop; empty when there is none.
std::string ParcelExtension(const char *name);
// Whether every part of a path between backslashes names something: none is
// empty (a leading or doubled backslash; a trailing one ends the path) and
// none is "." or "..", which no call could tell from the folder around it.
// The path is not null.
bool ParcelPartsNamed(const char *path);
// True when the name fits a 256-byte field with its terminator.
bool ParcelNameFits(const std::string &name);
// Stores the name zero-padded in a 256-byte field; false when it does not fit.
bool ParcelSetNameField(char *field, const char *name);
// A field as read from a file: false without a terminator; the bytes after
// it mean nothing and are cleared.
bool ParcelCleanNameField(char *field);
// The current time as entries record it: local time taken as UTC.
void ParcelCurrentTime(FILETIME *time);
