// Move-only owners for the platform's handles and heap blocks, so that every
// early return releases what the function acquired.
#pragma once

#include <windows.h>
#include <stdlib.h>

// A kernel handle; null and INVALID_HANDLE_VALUE both mean "none".
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Detach()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            Close();
            h_ = o.Detach();
        }
        return *this;
    }

    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    bool IsValid() const { return IsValid(h_); }
    HANDLE Get() const { return h_; }
    void Attach(HANDLE h) {
        Close();
        h_ = h;
    }
    HANDLE Detach() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    // Safe to call twice; returns false only when CloseHandle failed.
    bool Close() {
        bool ok = true;
        if (IsValid(h_))
            ok = CloseHandle(h_) != FALSE;
        h_ = nullptr;
        return ok;
    }

  private:
    HANDLE h_ = nullptr;
};

// An open registry key.
class UniqueKey {
  public:
    UniqueKey() = default;
    ~UniqueKey() { Close(); }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;

    HKEY Get() const { return k_; }
    HKEY* Out() {
        Close();
        return &k_;
    }
    void Close() {
        if (k_ != nullptr)
            RegCloseKey(k_);
        k_ = nullptr;
    }

  private:
    HKEY k_ = nullptr;
};

// A block from the C heap (malloc/calloc), freed with free().
class HeapBlock {
  public:
    HeapBlock() = default;
    explicit HeapBlock(void* p) : p_(p) {}
    ~HeapBlock() { free(p_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    HeapBlock(HeapBlock&& o) noexcept : p_(o.Detach()) {}
    HeapBlock& operator=(HeapBlock&& o) noexcept {
        if (this != &o) {
            free(p_);
            p_ = o.Detach();
        }
        return *this;
    }

    // Zero-filled block of n bytes (at least one byte, so that 0 is no failure).
    static HeapBlock Zeroed(size_t n) { return HeapBlock(calloc(n ? n : 1, 1)); }

    void* Get() const { return p_; }
    char* Bytes() const { return static_cast<char*>(p_); }
    bool IsValid() const { return p_ != nullptr; }
    void* Detach() {
        void* p = p_;
        p_ = nullptr;
        return p;
    }
    void Reset(void* p = nullptr) {
        free(p_);
        p_ = p;
    }

  private:
    void* p_ = nullptr;
};

// A GDI object (bitmap, brush, font...).
class UniqueGdiObject {
  public:
    UniqueGdiObject() = default;
    explicit UniqueGdiObject(HGDIOBJ o) : o_(o) {}
    ~UniqueGdiObject() { Close(); }
    UniqueGdiObject(const UniqueGdiObject&) = delete;
    UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
    HGDIOBJ Get() const { return o_; }
    void Close() {
        if (o_ != nullptr)
            DeleteObject(o_);
        o_ = nullptr;
    }

  private:
    HGDIOBJ o_ = nullptr;
};

// A find handle from FindFirstFile.
class UniqueFindHandle {
  public:
    UniqueFindHandle() = default;
    explicit UniqueFindHandle(HANDLE h) : h_(h) {}
    ~UniqueFindHandle() { Close(); }
    UniqueFindHandle(const UniqueFindHandle&) = delete;
    UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
    HANDLE Get() const { return h_; }
    bool IsValid() const { return h_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (h_ != INVALID_HANDLE_VALUE)
            FindClose(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};
