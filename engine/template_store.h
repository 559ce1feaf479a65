// The template store: one directory per user id under the base directory, one
// "<finger>.Data" file of 28000 bytes per finger. The file system is its only
// state; every operation reads the directory afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

// Calls visit(name) for every entry that counts, in directory order: regular
// "*.Data" files (wantFiles non-zero) or directories (wantFiles 0), never
// symbolic links or names starting with ".". visit returns false to stop.
// Returns the number of entries visited, or -100 when dirPath is missing or
// cannot be opened.
int forEachSubFile(const char *dirPath, int wantFiles, const std::function<bool(const char *)> &visit);

// Packs the accepted names, each with its NUL, into nameList (listSize bytes,
// zeroed by the caller). Stops at the first name that does not fit, so the
// count never exceeds the names written. With a null list it counts them all.
int getSubFile(const char *dirPath, char *nameList, int wantFiles, std::size_t listSize = 256);

// Writes m_opFeatureLastMerge as m_finger's template of user m_usrname,
// creating missing directories with mode 0700. 0 on success, -1 otherwise.
int SaveToMinutiaeFile();

// Replaces the file at path with data in one step: a temporary file in the same
// directory, flushed to disk, renamed over it. The file gets mode 0600. A crash
// leaves either the old or the new contents, never a mix. 0 or -1.
int writeTemplateAtomic(const char *path, const uint8_t *data, std::size_t size);

// Reads a stored template. Returns the number of bytes read (a file shorter
// than size returns less), or -1 when it cannot be opened as a regular file.
long readTemplateFile(const char *path, uint8_t *data, std::size_t size);

// Held while a template file is removed, renamed or renewed, so that a renewal
// on the worker never brings back a template that a delete or rename on the
// main thread has just taken away.
std::mutex &templateFileLock();
