// The simulated Windows' private types, shared by its source files.
#pragma once

#include "sim/SimOs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace simdetail {

inline std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

inline bool IEquals(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

inline std::string Str(LPCSTR s) { return s ? std::string(s) : std::string("null"); }

inline std::string Quote(LPCSTR s) { return s ? "\"" + std::string(s) + "\"" : std::string("null"); }

inline std::string Dec(uint64_t v) { return std::to_string(v); }

inline std::string Bool(BOOL b) { return b ? "TRUE" : "FALSE"; }

// Fake handle ranges, apart from each other and from kernel handles (0x1000 + 4n).
constexpr uintptr_t kIconBase = 0x10000000;
constexpr uintptr_t kSysIconBase = 0x11000000;
constexpr uintptr_t kWindowBase = 0x20000000;
constexpr uintptr_t kDcBase = 0x30000000;
constexpr uintptr_t kResBase = 0x40000000;
constexpr uintptr_t kLoadedBase = 0x41000000;
constexpr uintptr_t kFontBase = 0x50000000;

}  // namespace simdetail

struct SimOs::Node {
    bool dir = false;
    std::string name;                       // as created
    Node* parent = nullptr;
    char drive = 'C';
    std::map<std::string, std::shared_ptr<Node>> children;   // key: upper-case name
    std::string data;
    bool readOnly = false;
};

struct SimOs::Drive {
    char letter;
    uint64_t capacity = kSimUnlimited;
    uint64_t used = 0;
    std::shared_ptr<Node> root;
    std::vector<std::string> cwd;           // components below the root, on-disk names
};

// A path made absolute: its drive and its components, "." and ".." applied.
struct SimOs::Resolved {
    char drive;
    std::vector<std::string> parts;
};

struct SimOs::Snapshot {
    struct Item {
        DWORD pid;
        DWORD parent;
        std::string exeFile;
    };
    int serial = 0;
    DWORD flags = 0;
    std::vector<Item> items;
    size_t next = 0;
};

struct SimOs::Handle {
    enum Kind { File, Process, Thread, Snap } kind;
    bool open = true;
    // files
    std::shared_ptr<Node> node;
    std::string openedAs;
    DWORD share = 0;
    uint64_t pos = 0;
    // files, processes and threads
    DWORD access = 0;
    DWORD pid = 0;
    // snapshots
    Snapshot snap;
};

struct SimOs::Resource {
    std::string type;   // upper-case name, or "#n"
    WORD id;
    std::string bytes;
    bool removed = false;
};

namespace simdetail {
inline std::string Show(int v) { return v == 0 ? "FALSE" : std::to_string(v); }
inline std::string Show(unsigned int v) { return v == INVALID_SET_FILE_POINTER ? "INVALID_SET_FILE_POINTER" : std::to_string(v); }
inline std::string Show(long v) { return std::to_string(v); }
inline std::string Show(unsigned long v) { return v == WAIT_FAILED ? "WAIT_FAILED" : std::to_string(v); }
inline std::string Show(const void* v)
{
    if (!v)
        return "null";
    if (v == INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(v)));
    return buf;
}
}  // namespace simdetail

// A failed call: sets the error, completes the log line ("FALSE error 32") and gives value.
template <class T>
inline T SimOs::Fails(size_t entry, T value, DWORD error)
{
    m_lastError = error;
    if (m_log[entry].result.empty())
        m_log[entry].result = simdetail::Show(value);
    m_log[entry].result += " error " + std::to_string(error);
    return value;
}

