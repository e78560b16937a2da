#include "Share.h"

#include "GeneratedFiles.h"
#include "Mbcs.h"
#include "SystemLibrary.h"

#include <stdio.h>
#include <string.h>

namespace {

// Copies text into a 260-byte buffer; false (buffer empty) when it does not fit.
bool CopyText(char* out, const char* text) {
    const int n = snprintf(out, kPathBufferSize, "%s", text);
    if (n >= 0 && static_cast<size_t>(n) < kPathBufferSize)
        return true;
    out[0] = '\0';
    return false;
}

// "\\server\TALMEROWU$"; false when it does not fit.
bool MakeSharePath(const char* server, char* out) {
    const int n = snprintf(out, kPathBufferSize, "\\\\%s\\%s", server, kShareName);
    if (n >= 0 && static_cast<size_t>(n) < kPathBufferSize)
        return true;
    out[0] = '\0';
    return false;
}

bool IsHostByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || (c >= 0xA1 && c <= 0xDF);
}

// RFC 1123's limits: of a label, and of the whole name.
constexpr size_t kMaxLabelLength = 63;
constexpr size_t kMaxHostNameLength = 253;

bool IsLabel(const char* label, size_t length) {
    return length > 0 && length <= kMaxLabelLength && label[0] != '-' && label[length - 1] != '-';
}

ShareLookup& CutValue(ShareLookup& share, const char* key) {
    share.outcome = ShareOutcome::kCutValue;
    share.longKey = key;
    return share;
}

} // namespace

ShareLookup LookUpShare(const char* patchJobIni, OperationMode mode, HostNameLookup lookup) {
    ShareLookup share;
    if (!ReadTlxShare(patchJobIni, share.tlxShare))
        return CutValue(share, "TLX_SHARE");
    if (share.tlxShare[0] != '\0') {
        CopyText(share.sharePath, share.tlxShare);
        CopyText(share.serverName, GetUncServerName(share.sharePath));
        share.outcome =
            IsHostName(share.serverName) ? ShareOutcome::kFound : ShareOutcome::kNotAHost;
        return share;
    }
    share.rescued = true;
    char susShare[kPathBufferSize];
    if (!ReadSusShare(patchJobIni, susShare))
        return CutValue(share, "SUS_SHARE");
    char server[kPathBufferSize];
    if (susShare[0] != '\0') {
        CopyText(server, GetUncServerName(susShare));
    } else {
        share.noneNamed = true;
        if (mode != OperationMode::kServer) {
            share.outcome = ShareOutcome::kNoShare;
            return share;
        }
        // A server serves its own share.
        char hostName[kPathBufferSize];
        memset(hostName, 0, sizeof hostName);
        if (lookup(hostName, static_cast<int>(sizeof hostName)) != 0) {
            share.hostError = SocketsError();
            share.outcome = ShareOutcome::kNoHostName;
            return share;
        }
        hostName[sizeof hostName - 1] = '\0';
        CopyText(server, hostName);
    }
    CopyText(share.serverName, server);
    if (!IsHostName(share.serverName)) {
        share.outcome = ShareOutcome::kNotAHost;
        return share;
    }
    share.outcome = MakeSharePath(share.serverName, share.sharePath) ? ShareOutcome::kFound
                                                                     : ShareOutcome::kTooLong;
    return share;
}

bool IsHostName(const char* text) {
    const size_t length = strlen(text);
    if (length > kMaxHostNameLength)
        return false;
    size_t label = 0;
    for (size_t i = 0; i <= length;) {
        if (i == length || text[i] == '.') {
            if (!IsLabel(text + label, i - label))
                return false;
            label = ++i;
            continue;
        }
        const size_t n = MbcsCharLength(text, length, i);
        if (n == 1 && !IsHostByte(static_cast<unsigned char>(text[i])))
            return false;
        i += n;
    }
    return true;
}

void PrintableValue(const char* value, char* out, size_t capacity) {
    if (capacity == 0)
        return;
    size_t used = 0;
    const size_t length = strlen(value);
    for (size_t i = 0; i < length;) {
        const size_t n = MbcsCharLength(value, length, i);
        const unsigned char c = static_cast<unsigned char>(value[i]);
        char piece[8];
        size_t pieceLength = n;
        if (n == 1 && (c < 0x20 || c == 0x7F || MbcsIsLeadByte(c))) {
            snprintf(piece, sizeof piece, "\\x%02X", c);
            pieceLength = 4;
        } else {
            memcpy(piece, value + i, n);
        }
        if (used + pieceLength >= capacity)
            break;
        memcpy(out + used, piece, pieceLength);
        used += pieceLength;
        i += n;
    }
    out[used] = '\0';
}
