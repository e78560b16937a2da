// The payload: the archive of the running part, carried as a resource of
// type "IDH_FILE" and written out to a file before it is unpacked.
#pragma once

#include "Owners.h"

#include <windows.h>

// Resource ids of the two payload archives.
constexpr WORD kPayloadClient = 130;
constexpr WORD kPayloadServer = 131;
constexpr char kPayloadResourceType[] = "IDH_FILE";
constexpr char kPayloadTempName[] = "Update.tmp";

// Writes the payload resource id of this program's module to filePath.
// An existing file is replaced (read-only bit cleared first) only when
// overwrite is nonzero. Returns 1 when the file holds the whole resource,
// 0 otherwise; a file created before the failure stays behind. Called by the
// tests: the update writes its payload with OpenPayloadFile.
int WritePayloadFile(WORD resourceId, const char* filePath, int overwrite);

// The bytes of payload resource id in this program's module, without
// copying; false when there is no such resource or it is empty.
bool FindPayload(WORD resourceId, const void** data, DWORD* size);

// Writes the payload (data, size bytes: the bytes the check read) to a new
// file in the temporary folder and rewinds it, for the unpack to read back
// through the same handle: opened for reading and writing with only reading
// shared, so that nobody else writes it meanwhile, and removed by the system
// when the handle is closed, also when the process is ended. The file is
// Update.tmp when that name can be had (a plain file of its own there is
// removed first), else a name of the run's own (OwnName.h), which no other
// account can take in advance: a folder, a link or a second name of
// another file under the name is never written through or changed. path
// (kPathBufferSize bytes) receives the name tried last. False, with
// GetLastError set, when no file could be written.
bool OpenPayloadFile(const void* data, DWORD size, char* path, UniqueHandle& file);

// Path of the payload's temporary file: the temporary folder followed by
// "Update.tmp". Empty when that path cannot be formed. The text lives in a
// process-wide array that the next call overwrites.
const char* GetPayloadTempPath();
