// One move-only owner for every kind of handle the program holds (kernel
// handles, registry keys, find handles, GDI objects, heap blocks, blocks of
// LocalAlloc), so that every early return releases what the function took.
// A kind is a small traits struct: its value type, the value that means
// "none", which values are held, and how one is let go.
#pragma once

#include <windows.h>
#include <stdlib.h>

template <typename Kind> class Owner {
  public:
    typedef typename Kind::Value Value;

    Owner() = default;
    explicit Owner(Value value) : value_(value) {}
    ~Owner() { Close(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : value_(other.Detach()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    bool IsValid() const { return Kind::Holds(value_); }
    static bool IsValid(Value value) { return Kind::Holds(value); }
    Value Get() const { return value_; }
    // Lets go of what is held, then holds value.
    void Attach(Value value) {
        Close();
        value_ = value;
    }
    Value Detach() {
        Value value = value_;
        value_ = Kind::None();
        return value;
    }
    // Where a call that hands out a new value puts it (RegOpenKeyEx, say).
    Value* Out() {
        Close();
        return &value_;
    }
    // Safe to call twice; false only when letting go failed (closing a file
    // can report data that did not reach the disk).
    bool Close() {
        bool ok = true;
        if (Kind::Holds(value_))
            ok = Kind::Release(value_);
        value_ = Kind::None();
        return ok;
    }

  private:
    Value value_ = Kind::None();
};

// A kernel handle: null and INVALID_HANDLE_VALUE both mean none.
struct KernelHandleKind {
    typedef HANDLE Value;
    static HANDLE None() { return nullptr; }
    static bool Holds(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Release(HANDLE h) { return CloseHandle(h) != FALSE; }
};
typedef Owner<KernelHandleKind> UniqueHandle;

struct RegistryKeyKind {
    typedef HKEY Value;
    static HKEY None() { return nullptr; }
    static bool Holds(HKEY k) { return k != nullptr; }
    static bool Release(HKEY k) { return RegCloseKey(k) == ERROR_SUCCESS; }
};
typedef Owner<RegistryKeyKind> UniqueKey;

// From FindFirstFile.
struct FindHandleKind {
    typedef HANDLE Value;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool Holds(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static bool Release(HANDLE h) { return FindClose(h) != FALSE; }
};
typedef Owner<FindHandleKind> UniqueFindHandle;

// A bitmap, brush, font...
struct GdiObjectKind {
    typedef HGDIOBJ Value;
    static HGDIOBJ None() { return nullptr; }
    static bool Holds(HGDIOBJ o) { return o != nullptr; }
    static bool Release(HGDIOBJ o) { return DeleteObject(o) != FALSE; }
};
typedef Owner<GdiObjectKind> UniqueGdiObject;

// What the platform hands out from LocalAlloc (security descriptors, say).
struct LocalBlockKind {
    typedef void* Value;
    static void* None() { return nullptr; }
    static bool Holds(void* p) { return p != nullptr; }
    static bool Release(void* p) { return LocalFree(p) == nullptr; }
};
typedef Owner<LocalBlockKind> LocalBlock;

// A block of the C heap (malloc, calloc).
struct HeapBlockKind {
    typedef void* Value;
    static void* None() { return nullptr; }
    static bool Holds(void* p) { return p != nullptr; }
    static bool Release(void* p) {
        free(p);
        return true;
    }
};
class HeapBlock : public Owner<HeapBlockKind> {
  public:
    using Owner::Owner;
    HeapBlock(HeapBlock&&) noexcept = default;
    HeapBlock& operator=(HeapBlock&&) noexcept = default;

    // n bytes (at least one, so that 0 is no failure), zero-filled.
    static HeapBlock Zeroed(size_t n) { return HeapBlock(calloc(n ? n : 1, 1)); }
    char* Bytes() const { return static_cast<char*>(Get()); }
};
