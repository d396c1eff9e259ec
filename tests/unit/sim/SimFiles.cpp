// The simulated Windows: drives, directories and files, the C runtime's directory functions
// and the file calls behind CFile.
#include "sim/SimOsInternal.h"

#include <cstring>

using namespace simdetail;

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

char DriveLetter(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string AccessName(DWORD access)
{
    std::string s;
    auto add = [&](DWORD bit, const char* name) {
        if (access & bit) {
            s += (s.empty() ? "" : "|") + std::string(name);
            access &= ~bit;
        }
    };
    add(GENERIC_READ, "GENERIC_READ");
    add(GENERIC_WRITE, "GENERIC_WRITE");
    if (access) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(access));
        s += (s.empty() ? "" : "|") + std::string(buf);
    }
    return s.empty() ? "0" : s;
}

std::string DispositionName(DWORD d)
{
    switch (d) {
    case CREATE_NEW: return "CREATE_NEW";
    case CREATE_ALWAYS: return "CREATE_ALWAYS";
    case OPEN_EXISTING: return "OPEN_EXISTING";
    case OPEN_ALWAYS: return "OPEN_ALWAYS";
    case TRUNCATE_EXISTING: return "TRUNCATE_EXISTING";
    default: return std::to_string(d);
    }
}

bool WantsRead(DWORD a) { return (a & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0; }
bool WantsWrite(DWORD a) { return (a & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0; }
bool WantsDelete(DWORD a) { return (a & (DELETE | GENERIC_ALL)) != 0; }

// Whether a new open (access, share) can coexist with an existing one.
bool Compatible(DWORD oldAccess, DWORD oldShare, DWORD newAccess, DWORD newShare)
{
    if (WantsRead(newAccess) && !(oldShare & FILE_SHARE_READ)) return false;
    if (WantsWrite(newAccess) && !(oldShare & FILE_SHARE_WRITE)) return false;
    if (WantsDelete(newAccess) && !(oldShare & FILE_SHARE_DELETE)) return false;
    if (WantsRead(oldAccess) && !(newShare & FILE_SHARE_READ)) return false;
    if (WantsWrite(oldAccess) && !(newShare & FILE_SHARE_WRITE)) return false;
    if (WantsDelete(oldAccess) && !(newShare & FILE_SHARE_DELETE)) return false;
    return true;
}

// How another process holds a file in HoldOpen: everything, sharing nothing.
constexpr DWORD kHoldAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

}  // namespace

// --- paths ---------------------------------------------------------------------------------------

std::optional<SimOs::Resolved> SimOs::Resolve(const std::string& path) const
{
    if (path.empty())
        return std::nullopt;
    if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1]))
        return std::nullopt;   // UNC: no network here
    Resolved r;
    std::string rest = path;
    if (path.size() >= 2 && path[1] == ':') {
        if (!std::isalpha(static_cast<unsigned char>(path[0])))
            return std::nullopt;
        r.drive = DriveLetter(path[0]);
        rest = path.substr(2);
    } else {
        r.drive = m_currentDrive;
    }
    if (rest.empty() || !IsSep(rest[0])) {
        const Drive* d = DriveOf(r.drive);
        if (d)
            r.parts = d->cwd;
    }
    size_t i = 0;
    while (i < rest.size()) {
        size_t j = i;
        while (j < rest.size() && !IsSep(rest[j]))
            ++j;
        std::string part = rest.substr(i, j - i);
        if (part == "..") {
            if (!r.parts.empty())
                r.parts.pop_back();
        } else if (!part.empty() && part != ".") {
            r.parts.push_back(part);
        }
        i = j + 1;
    }
    return r;
}

SimOs::Drive* SimOs::DriveOf(char letter)
{
    auto it = m_drives.find(DriveLetter(letter));
    return it == m_drives.end() ? nullptr : it->second.get();
}

const SimOs::Drive* SimOs::DriveOf(char letter) const
{
    auto it = m_drives.find(DriveLetter(letter));
    return it == m_drives.end() ? nullptr : it->second.get();
}

std::shared_ptr<SimOs::Node> SimOs::Lookup(const std::string& path) const
{
    auto r = Resolve(path);
    if (!r)
        return nullptr;
    const Drive* d = DriveOf(r->drive);
    if (!d)
        return nullptr;
    std::shared_ptr<Node> node = d->root;
    for (const std::string& part : r->parts) {
        if (!node->dir)
            return nullptr;
        auto it = node->children.find(Upper(part));
        if (it == node->children.end())
            return nullptr;
        node = it->second;
    }
    return node;
}

std::shared_ptr<SimOs::Node> SimOs::LookupOrFail(const std::string& path, const char* helper) const
{
    auto node = Lookup(path);
    if (!node)
        ADD_FAILURE() << "SimOs::" << helper << ": no file or directory " << path;
    return node;
}

bool SimOs::IsCurrentDirOfAnyDrive(const std::shared_ptr<Node>& dir) const
{
    for (const auto& d : m_drives) {
        std::shared_ptr<Node> node = d.second->root;
        for (const std::string& part : d.second->cwd) {
            auto it = node->children.find(Upper(part));
            if (it == node->children.end()) {
                node = nullptr;
                break;
            }
            node = it->second;
        }
        if (node == dir)
            return true;
    }
    return false;
}

void SimOs::Unuse(char drive, uint64_t bytes)
{
    if (Drive* d = DriveOf(drive))
        d->used = d->used >= bytes ? d->used - bytes : 0;
}

// --- test helpers ------------------------------------------------------------------------------

void SimOs::AddDrive(char letter, uint64_t capacity)
{
    letter = DriveLetter(letter);
    if (DriveOf(letter))
        return;
    auto d = std::make_unique<Drive>();
    d->letter = letter;
    d->capacity = capacity;
    d->root = std::make_shared<Node>();
    d->root->dir = true;
    d->root->name = std::string(1, letter) + ":";
    d->root->drive = letter;
    m_drives[letter] = std::move(d);
}

void SimOs::RemoveDrive(char letter)
{
    m_drives.erase(DriveLetter(letter));
}

void SimOs::SetCapacity(char letter, uint64_t bytes)
{
    AddDrive(letter);
    DriveOf(letter)->capacity = bytes;
}

uint64_t SimOs::UsedBytes(char letter) const
{
    const Drive* d = DriveOf(letter);
    return d ? d->used : 0;
}

void SimOs::PutDir(const std::string& path)
{
    auto r = Resolve(path);
    if (!r) {
        ADD_FAILURE() << "SimOs::PutDir: not a drive path: " << path;
        return;
    }
    AddDrive(r->drive);
    std::shared_ptr<Node> node = DriveOf(r->drive)->root;
    for (const std::string& part : r->parts) {
        auto& child = node->children[Upper(part)];
        if (!child) {
            child = std::make_shared<Node>();
            child->dir = true;
            child->name = part;
            child->parent = node.get();
            child->drive = r->drive;
        } else if (!child->dir) {
            ADD_FAILURE() << "SimOs::PutDir: " << part << " in " << path << " is a file";
            return;
        }
        node = child;
    }
}

void SimOs::PutFile(const std::string& path, const std::string& bytes)
{
    auto r = Resolve(path);
    if (!r || r->parts.empty()) {
        ADD_FAILURE() << "SimOs::PutFile: not a file path: " << path;
        return;
    }
    std::string name = r->parts.back();
    std::string dirPath = std::string(1, r->drive) + ":\\";
    for (size_t i = 0; i + 1 < r->parts.size(); ++i)
        dirPath += r->parts[i] + "\\";
    PutDir(dirPath);
    auto dir = Lookup(dirPath);
    if (!dir || !dir->dir)
        return;
    auto& child = dir->children[Upper(name)];
    if (child && child->dir) {
        ADD_FAILURE() << "SimOs::PutFile: " << path << " is a directory";
        return;
    }
    Drive* d = DriveOf(r->drive);
    if (child) {
        Unuse(r->drive, child->data.size());
    } else {
        child = std::make_shared<Node>();
        child->name = name;
        child->parent = dir.get();
        child->drive = r->drive;
    }
    child->data = bytes;
    d->used += bytes.size();
}

bool SimOs::Exists(const std::string& path) const { return Lookup(path) != nullptr; }

bool SimOs::IsDir(const std::string& path) const
{
    auto n = Lookup(path);
    return n && n->dir;
}

bool SimOs::IsFile(const std::string& path) const
{
    auto n = Lookup(path);
    return n && !n->dir;
}

std::string SimOs::ReadFile(const std::string& path) const
{
    auto n = LookupOrFail(path, "ReadFile");
    if (!n)
        return std::string();
    if (n->dir) {
        ADD_FAILURE() << "SimOs::ReadFile: " << path << " is a directory";
        return std::string();
    }
    return n->data;
}

std::vector<std::string> SimOs::List(const std::string& dir) const
{
    std::vector<std::string> names;
    auto n = LookupOrFail(dir, "List");
    if (!n || !n->dir)
        return names;
    for (const auto& c : n->children)   // keyed by upper-case name: sorted without regard to case
        names.push_back(c.second->name);
    return names;
}

void SimOs::SetReadOnly(const std::string& path, bool readOnly)
{
    if (auto n = LookupOrFail(path, "SetReadOnly"))
        n->readOnly = readOnly;
}

void SimOs::HoldOpen(const std::string& path)
{
    if (auto n = LookupOrFail(path, "HoldOpen"))
        ++m_externalHolds[n.get()];
}

void SimOs::Release(const std::string& path)
{
    if (auto n = LookupOrFail(path, "Release"))
        m_externalHolds.erase(n.get());
}

std::string SimOs::CurrentDirectoryOf(char drive) const
{
    const Drive* d = DriveOf(drive);
    if (!d)
        return std::string();
    std::string path = std::string(1, d->letter) + ":\\";
    for (size_t i = 0; i < d->cwd.size(); ++i)
        path += (i ? "\\" : "") + d->cwd[i];
    return path;
}

std::string SimOs::CurrentDirectory() const { return CurrentDirectoryOf(m_currentDrive); }

void SimOs::SetCurrentDirectory(const std::string& path)
{
    auto n = LookupOrFail(path, "SetCurrentDirectory");
    if (!n || !n->dir)
        return;
    auto r = Resolve(path);
    // The on-disk names, so CurrentDirectory() reads as the directories were made.
    std::vector<std::string> parts;
    for (Node* p = n.get(); p && p->parent; p = p->parent)
        parts.insert(parts.begin(), p->name);
    DriveOf(r->drive)->cwd = parts;
    m_currentDrive = r->drive;
}

// --- C runtime -----------------------------------------------------------------------------------

int SimOs::_chdrive(int drive)
{
    size_t e = Begin(kSimCalls, "_chdrive", Dec(static_cast<uint64_t>(drive)));
    if (SimFault* f = Faulted("_chdrive", std::to_string(drive)))
        return Fails<int>(e, -1, f->m_error);
    if (drive < 1 || drive > 26 || !DriveOf(static_cast<char>('A' + drive - 1))) {
        SetResult(e, "-1");
        m_lastError = ERROR_INVALID_DRIVE;
        return -1;
    }
    m_currentDrive = static_cast<char>('A' + drive - 1);
    SetResult(e, "0");
    return 0;
}

int SimOs::_chdir(const char* path)
{
    size_t e = Begin(kSimCalls, "_chdir", Str(path));
    if (!path) {
        Violation("_chdir with a null path");
        return Fails<int>(e, -1, ERROR_INVALID_PARAMETER);
    }
    if (SimFault* f = Faulted("_chdir", path))
        return Fails<int>(e, -1, f->m_error);
    auto n = Lookup(path);
    if (!n || !n->dir)
        return Fails<int>(e, -1, n ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
    std::vector<std::string> parts;
    for (Node* p = n.get(); p && p->parent; p = p->parent)
        parts.insert(parts.begin(), p->name);
    DriveOf(n->drive)->cwd = parts;
    // A path on another drive makes that drive current as well, as the C runtime documents.
    m_currentDrive = n->drive;
    SetResult(e, "0");
    return 0;
}

int SimOs::_mkdir(const char* path)
{
    size_t e = Begin(kSimCalls, "_mkdir", Str(path));
    if (!path) {
        Violation("_mkdir with a null path");
        return Fails<int>(e, -1, ERROR_INVALID_PARAMETER);
    }
    if (SimFault* f = Faulted("_mkdir", path))
        return Fails<int>(e, -1, f->m_error);
    auto r = Resolve(path);
    if (!r || r->parts.empty() || !DriveOf(r->drive))
        return Fails<int>(e, -1, r && !r->parts.empty() ? ERROR_PATH_NOT_FOUND : ERROR_ALREADY_EXISTS);
    std::string name = r->parts.back();
    std::shared_ptr<Node> dir = DriveOf(r->drive)->root;
    for (size_t i = 0; i + 1 < r->parts.size(); ++i) {
        auto it = dir->children.find(Upper(r->parts[i]));
        if (it == dir->children.end() || !it->second->dir)
            return Fails<int>(e, -1, ERROR_PATH_NOT_FOUND);
        dir = it->second;
    }
    if (dir->children.count(Upper(name)))
        return Fails<int>(e, -1, ERROR_ALREADY_EXISTS);
    auto child = std::make_shared<Node>();
    child->dir = true;
    child->name = name;
    child->parent = dir.get();
    child->drive = r->drive;
    dir->children[Upper(name)] = child;
    SetResult(e, "0");
    return 0;
}

int SimOs::_rmdir(const char* path)
{
    size_t e = Begin(kSimCalls, "_rmdir", Str(path));
    if (!path) {
        Violation("_rmdir with a null path");
        return Fails<int>(e, -1, ERROR_INVALID_PARAMETER);
    }
    if (SimFault* f = Faulted("_rmdir", path))
        return Fails<int>(e, -1, f->m_error);
    auto n = Lookup(path);
    if (!n)
        return Fails<int>(e, -1, ERROR_FILE_NOT_FOUND);
    if (!n->dir)
        return Fails<int>(e, -1, ERROR_DIRECTORY);
    if (!n->parent || IsCurrentDirOfAnyDrive(n))
        return Fails<int>(e, -1, ERROR_SHARING_VIOLATION);
    if (!n->children.empty())
        return Fails<int>(e, -1, ERROR_DIR_NOT_EMPTY);
    n->parent->children.erase(Upper(n->name));
    SetResult(e, "0");
    return 0;
}

int SimOs::remove(const char* path)
{
    size_t e = Begin(kSimCalls, "remove", Str(path));
    if (!path) {
        Violation("remove with a null path");
        return Fails<int>(e, -1, ERROR_INVALID_PARAMETER);
    }
    if (SimFault* f = Faulted("remove", path))
        return Fails<int>(e, -1, f->m_error);
    auto n = Lookup(path);
    if (!n)
        return Fails<int>(e, -1, ERROR_FILE_NOT_FOUND);
    if (n->dir || n->readOnly)
        return Fails<int>(e, -1, ERROR_ACCESS_DENIED);
    if (m_externalHolds.count(n.get()))
        return Fails<int>(e, -1, ERROR_SHARING_VIOLATION);
    for (const auto& h : m_handles)
        if (h.second->open && h.second->kind == Handle::File && h.second->node == n &&
            !Compatible(h.second->access, h.second->share, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
            return Fails<int>(e, -1, ERROR_SHARING_VIOLATION);
    // Handles that share deletion keep the data; the name goes at once (Windows would keep
    // it, delete-pending, until the last of them is closed).
    Unuse(n->drive, n->data.size());
    n->parent->children.erase(Upper(n->name));
    SetResult(e, "0");
    return 0;
}

// --- files -------------------------------------------------------------------------------------

HANDLE SimOs::CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templateFile)
{
    size_t e = Begin(kSimCalls, "CreateFileA",
                     Str(name) + ", " + AccessName(access) + ", share=" + Hex(share) + ", " +
                         DispositionName(disposition) + ", flags=" + Hex(flags));
    m_fileOpens.push_back(SimFileOpen{name ? name : "", access, share, sa, disposition, flags,
                                      templateFile, INVALID_HANDLE_VALUE, 0});
    size_t rec = m_fileOpens.size() - 1;
    auto fail = [&](DWORD error) {
        m_fileOpens[rec].error = error;
        return Fails<HANDLE>(e, INVALID_HANDLE_VALUE, error);
    };
    if (!name) {
        Violation("CreateFileA with a null name");
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (SimFault* f = Faulted("CreateFileA", name))
        return fail(f->m_error);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return fail(ERROR_INVALID_PARAMETER);

    auto r = Resolve(name);
    if (!r || r->parts.empty() || !DriveOf(r->drive))
        return fail(ERROR_PATH_NOT_FOUND);
    std::shared_ptr<Node> dir = DriveOf(r->drive)->root;
    for (size_t i = 0; i + 1 < r->parts.size(); ++i) {
        auto it = dir->children.find(Upper(r->parts[i]));
        if (it == dir->children.end() || !it->second->dir)
            return fail(ERROR_PATH_NOT_FOUND);
        dir = it->second;
    }
    const std::string& leaf = r->parts.back();
    auto found = dir->children.find(Upper(leaf));
    std::shared_ptr<Node> node = found == dir->children.end() ? nullptr : found->second;
    DWORD successError = 0;
    bool setsError = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;

    if (node) {
        if (node->dir)
            return fail(ERROR_ACCESS_DENIED);
        if (disposition == CREATE_NEW)
            return fail(ERROR_FILE_EXISTS);
        bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        // As an ordinary user sees it: the read-only attribute refuses writing.
        if (node->readOnly && (WantsWrite(access) || truncates))
            return fail(ERROR_ACCESS_DENIED);
        if (m_externalHolds.count(node.get()) && !Compatible(kHoldAccess, 0, access, share))
            return fail(ERROR_SHARING_VIOLATION);
        for (const auto& h : m_handles)
            if (h.second->open && h.second->kind == Handle::File && h.second->node == node &&
                !Compatible(h.second->access, h.second->share, access, share))
                return fail(ERROR_SHARING_VIOLATION);
        if (disposition == TRUNCATE_EXISTING && !WantsWrite(access))
            return fail(ERROR_INVALID_PARAMETER);
        if (truncates) {
            Unuse(node->drive, node->data.size());
            node->data.clear();
        }
        if (setsError)
            successError = ERROR_ALREADY_EXISTS;
    } else {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return fail(ERROR_FILE_NOT_FOUND);
        node = std::make_shared<Node>();
        node->name = leaf;
        node->parent = dir.get();
        node->drive = r->drive;
        dir->children[Upper(leaf)] = node;
    }
    if (setsError)
        m_lastError = successError;

    auto h = std::make_unique<Handle>();
    h->kind = Handle::File;
    h->node = node;
    h->openedAs = name;
    h->access = access;
    h->share = share;
    HANDLE value = NewHandle(std::move(h));
    m_fileOpens[rec].result = value;
    m_fileOpens[rec].error = m_lastError;
    SetResult(e, HandleName(value) + (successError ? " (existed)" : ""));
    return value;
}

BOOL SimOs::WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    size_t e = Begin(kSimCalls, "WriteFile", HandleName(file) + ", " + Dec(size));
    if (written)
        *written = 0;
    if (!written && !overlapped) {
        Violation("WriteFile without a count of bytes written");
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_PARAMETER);
    }
    Handle* h = Find(file);
    std::string key = h && h->kind == Handle::File ? h->openedAs : std::string();
    SimFault* f = Faulted("WriteFile", key);
    if (f && f->m_shortBy == 0)
        return Fails<BOOL>(e, FALSE, f->m_error);
    if (!h || h->kind != Handle::File)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_HANDLE);
    if (!WantsWrite(h->access))
        return Fails<BOOL>(e, FALSE, ERROR_ACCESS_DENIED);
    if (size && !data) {
        Violation("WriteFile of " + Dec(size) + " bytes from a null buffer");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    DWORD n = size;
    if (f)
        n = f->m_shortBy >= size ? 0 : size - f->m_shortBy;

    Node& node = *h->node;
    Drive* d = DriveOf(node.drive);
    uint64_t oldSize = node.data.size();
    uint64_t end = h->pos + n;
    if (end > oldSize && d && d->capacity != kSimUnlimited) {
        uint64_t room = d->capacity > d->used ? d->capacity - d->used : 0;
        uint64_t limit = oldSize + room;   // the furthest this file can reach
        if (h->pos >= limit && n > 0)
            return Fails<BOOL>(e, FALSE, ERROR_DISK_FULL);
        if (end > limit)
            n = static_cast<DWORD>(limit - h->pos);
        end = h->pos + n;
    }
    if (end > oldSize) {
        node.data.resize(end, '\0');
        if (d)
            d->used += end - oldSize;
    }
    if (n)
        std::memcpy(&node.data[h->pos], data, n);
    h->pos += n;
    *written = n;
    SetResult(e, "TRUE written=" + Dec(n));
    return TRUE;
}

DWORD SimOs::SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    const char* methodName = method == FILE_BEGIN ? "FILE_BEGIN" : method == FILE_CURRENT ? "FILE_CURRENT"
                             : method == FILE_END ? "FILE_END" : "?";
    size_t e = Begin(kSimCalls, "SetFilePointer",
                     HandleName(file) + ", " + std::to_string(distance) +
                         (distanceHigh ? ", high=" + std::to_string(*distanceHigh) : "") + ", " +
                         (std::strcmp(methodName, "?") ? methodName : std::to_string(method)));
    auto fail = [&](DWORD error) {
        SetResult(e, "INVALID_SET_FILE_POINTER");
        return Fails<DWORD>(e, INVALID_SET_FILE_POINTER, error);
    };
    Handle* h = Find(file);
    std::string key = h && h->kind == Handle::File ? h->openedAs : std::string();
    if (SimFault* f = Faulted("SetFilePointer", key))
        return fail(f->m_error);
    if (!h || h->kind != Handle::File)
        return fail(ERROR_INVALID_HANDLE);
    int64_t move = distanceHigh ? (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                                : static_cast<int64_t>(distance);
    int64_t base;
    switch (method) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = static_cast<int64_t>(h->pos); break;
    case FILE_END: base = static_cast<int64_t>(h->node->data.size()); break;
    default: return fail(ERROR_INVALID_PARAMETER);
    }
    int64_t target = base + move;
    if (target < 0)
        return fail(ERROR_NEGATIVE_SEEK);
    if (!distanceHigh && target > 0xFFFFFFFEll)
        return fail(ERROR_INVALID_PARAMETER);
    h->pos = static_cast<uint64_t>(target);
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(target >> 32);
    m_lastError = NO_ERROR;
    SetResult(e, Dec(static_cast<uint32_t>(target)));
    return static_cast<DWORD>(target);
}
