// The simulated Windows: log, faults, clock and guards, system facts, memory and resources.
#include "sim/SimOsInternal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

using namespace simdetail;

SimProgram& SimProgram::Spawns(uint64_t afterMs, const SimProgram& child)
{
    spawns.push_back(SimSpawn{afterMs, child});
    return *this;
}

std::string SimLogEntry::Line(bool withResult) const
{
    // A delivery's args hold the whole text: "dlg 102 WM_INITDIALOG(0x0, 0x0)".
    std::string line = kind == kSimDeliveries ? "-> " + args : call + "(" + args + ")";
    if (withResult && !result.empty())
        line += " -> " + result;
    return line;
}

// --- faults ------------------------------------------------------------------------------------

SimFault& SimFault::When(const std::string& key)
{
    m_key = key;
    return *this;
}

SimFault& SimFault::Nth(int n)
{
    m_first = m_last = n;
    return *this;
}

SimFault& SimFault::FromNth(int n)
{
    m_first = n;
    m_last = INT32_MAX;
    return *this;
}

SimFault& SimFault::Error(DWORD error)
{
    m_error = error;
    return *this;
}

SimFault& SimFault::ShortBy(DWORD bytes)
{
    m_shortBy = bytes;
    return *this;
}

SimFault& SimOs::Fail(const std::string& call)
{
    m_faults.emplace_back();
    m_faults.back().m_call = call;
    return m_faults.back();
}

SimFault* SimOs::Faulted(const char* call, const std::string& key)
{
    SimFault* fired = nullptr;
    for (SimFault& f : m_faults) {
        if (f.m_call != call)
            continue;
        if (f.m_key && (key.empty() || !IEquals(*f.m_key, key)))
            continue;
        ++f.m_seen;
        if (!fired && f.m_seen >= f.m_first && f.m_seen <= f.m_last) {
            ++f.m_hits;
            fired = &f;
        }
    }
    return fired;
}

// --- construction --------------------------------------------------------------------------------

SimOs::SimOs()
{
    SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3");
    AddDrive('C');
    PutDir("C:\\WINDOWS");
    m_metrics[SM_CXICON] = 32;
    m_metrics[SM_CYICON] = 32;
    m_metrics[SM_CXSMICON] = 16;
    m_metrics[SM_CYSMICON] = 16;
    m_metrics[SM_CXSCREEN] = 1024;
    m_metrics[SM_CYSCREEN] = 768;
}

// Blocks still allocated are left alone: the framework's long-lived objects (the application's
// strings) may still own them and free them later, through whichever Os is then installed.
SimOs::~SimOs() {}

// --- log -----------------------------------------------------------------------------------------

namespace {
bool IsBlocking(const char* call)
{
    static const char* const kBlocking[] = {
        "Sleep", "WaitForSingleObject", "WaitForInputIdle", "GetExitCodeProcess", "OpenProcess",
        "CreateToolhelp32Snapshot", "Process32First", "Process32Next", "GetMessageA",
        "MessageBoxA", "CreateProcessA",
    };
    for (const char* b : kBlocking)
        if (std::strcmp(b, call) == 0)
            return true;
    return false;
}
}  // namespace

size_t SimOs::Begin(unsigned kind, const char* call, std::string args)
{
    m_log.push_back(SimLogEntry{kind, call, std::move(args), std::string(), m_now});
    size_t entry = m_log.size() - 1;
    if (kind == kSimCalls) {
        auto cost = m_callCost.find(call);
        if (cost != m_callCost.end() && cost->second > 0)
            AdvanceTo(m_now + cost->second, call);
        if (IsBlocking(call))
            Tick(call);
    }
    return entry;
}

void SimOs::SetResult(size_t entry, std::string result)
{
    if (entry < m_log.size())
        m_log[entry].result = std::move(result);
}



std::vector<std::string> SimOs::Log(unsigned what) const
{
    std::vector<std::string> lines;
    for (const SimLogEntry& e : m_log)
        if (e.kind & what)
            lines.push_back(e.Line((what & kSimResults) != 0));
    return lines;
}

std::vector<std::string> SimOs::Calls(const std::string& name, bool withResults) const
{
    std::vector<std::string> lines;
    for (const SimLogEntry& e : m_log)
        if (e.kind != kSimDeliveries && e.call == name)
            lines.push_back(e.Line(withResults));
    return lines;
}

int SimOs::Count(const std::string& name) const
{
    int n = 0;
    for (const SimLogEntry& e : m_log)
        if (e.kind != kSimDeliveries && e.call == name)
            ++n;
    return n;
}

std::string SimOs::LogText(unsigned what) const
{
    std::string text;
    for (const std::string& line : Log(what))
        text += line + "\n";
    return text;
}

// --- guards and clock ----------------------------------------------------------------------------

void SimOs::Abort(const std::string& why)
{
    m_aborted = true;
    std::string recent;
    size_t from = m_log.size() > 20 ? m_log.size() - 20 : 0;
    for (size_t i = from; i < m_log.size(); ++i)
        if (m_log[i].kind != kSimQuiet)
            recent += "  " + m_log[i].Line(true) + "\n";
    ADD_FAILURE() << "simulated Windows: " << why << " (virtual time " << m_now
                  << " ms)\nlast calls:\n" << recent;
    throw SimAbort{why};
}

void SimOs::CheckNotAborted(const char* call)
{
    if (m_aborted)
        throw SimAbort{std::string(call) + " after the simulated Windows gave up on the test"};
}

void SimOs::Tick(const char* call)
{
    CheckNotAborted(call);
    if (++m_spin > m_spinLimit)
        Abort(std::string(call) + ": " + Dec(m_spinLimit) +
              " waiting calls in a row without the virtual clock advancing: a loop that spins "
              "instead of blocking");
}

void SimOs::Violation(const std::string& what)
{
    ADD_FAILURE() << "simulated Windows: misuse of the API: " << what;
}

uint64_t SimOs::NextEventTime() const
{
    return m_events.empty() ? kSimForever : m_events.begin()->first;
}

void SimOs::AdvanceTo(uint64_t time, const char* why)
{
    if (time < m_now)
        time = m_now;
    if (time > m_clockLimit)
        Abort(std::string(why) + ": the virtual clock would pass its limit of " + Dec(m_clockLimit) +
              " ms (SetClockLimit): a wait that does not end");
    while (!m_events.empty() && m_events.begin()->first <= time) {
        auto it = m_events.begin();
        if (it->first > m_now) {
            m_now = it->first;
            m_spin = 0;
        }
        std::function<void()> event = std::move(it->second);
        m_events.erase(it);
        event();
    }
    if (time > m_now) {
        m_now = time;
        m_spin = 0;
    }
}

void SimOs::Advance(uint64_t ms)
{
    AdvanceTo(m_now + ms, "Advance");
}

void SimOs::At(uint64_t time, std::function<void()> event)
{
    m_events.emplace(time < m_now ? m_now : time, std::move(event));
}

// --- names -----------------------------------------------------------------------------------------

std::string SimOs::Hex(uintptr_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(v));
    return buf;
}

namespace {
std::string Hex8(uintptr_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(v));
    return buf;
}
}  // namespace

std::string SimOs::ResName(LPCSTR name)
{
    if (!name)
        return "null";
    if (IS_INTRESOURCE(name))
        return "#" + Dec(reinterpret_cast<uintptr_t>(name));
    return name;
}

std::string SimOs::HandleName(HANDLE h) const
{
    if (!h)
        return "null";
    if (h == INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    if (const Handle* k = Find(h, true)) {
        switch (k->kind) {
        case Handle::File: return "file " + k->openedAs;
        case Handle::Process: return "process " + Dec(k->pid);
        case Handle::Thread: return "thread " + Dec(k->pid);
        case Handle::Snap: return "snapshot " + Dec(k->snap.serial);
        }
    }
    return Hex(reinterpret_cast<uintptr_t>(h));
}

std::string SimOs::WindowName(HWND h) const
{
    if (!h)
        return "null";
    if (const SimWindow* w = WindowPtr(h))
        return w->name;
    return Hex(reinterpret_cast<uintptr_t>(h));
}

std::string SimOs::IconName(HICON h) const
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (!h)
        return "null";
    if (v >= kIconBase && v < kIconBase + 0x10000)
        return "icon " + Dec(v - kIconBase);
    if (v >= kSysIconBase && v < kSysIconBase + 0x10000)
        return "icon system " + Dec(v - kSysIconBase);
    return Hex(v);
}

std::string SimOs::MessageName(UINT m)
{
    static const std::map<UINT, const char*> kNames = {
        {WM_NULL, "WM_NULL"}, {WM_CREATE, "WM_CREATE"}, {WM_DESTROY, "WM_DESTROY"},
        {WM_MOVE, "WM_MOVE"}, {WM_SIZE, "WM_SIZE"}, {WM_ACTIVATE, "WM_ACTIVATE"},
        {WM_SETFOCUS, "WM_SETFOCUS"}, {WM_KILLFOCUS, "WM_KILLFOCUS"}, {WM_ENABLE, "WM_ENABLE"},
        {WM_SETTEXT, "WM_SETTEXT"}, {WM_GETTEXT, "WM_GETTEXT"}, {WM_PAINT, "WM_PAINT"},
        {WM_CLOSE, "WM_CLOSE"}, {WM_QUIT, "WM_QUIT"}, {WM_ERASEBKGND, "WM_ERASEBKGND"},
        {WM_SHOWWINDOW, "WM_SHOWWINDOW"}, {WM_SETFONT, "WM_SETFONT"},
        {WM_QUERYDRAGICON, "WM_QUERYDRAGICON"}, {WM_ICONERASEBKGND, "WM_ICONERASEBKGND"},
        {WM_NCCREATE, "WM_NCCREATE"}, {WM_NCDESTROY, "WM_NCDESTROY"}, {WM_SETICON, "WM_SETICON"},
        {WM_GETICON, "WM_GETICON"}, {WM_KEYDOWN, "WM_KEYDOWN"}, {WM_KEYUP, "WM_KEYUP"},
        {WM_CHAR, "WM_CHAR"}, {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"}, {WM_SYSCOMMAND, "WM_SYSCOMMAND"},
        {WM_INITDIALOG, "WM_INITDIALOG"}, {WM_COMMAND, "WM_COMMAND"}, {WM_TIMER, "WM_TIMER"},
        {WM_HELP, "WM_HELP"}, {WM_CONTEXTMENU, "WM_CONTEXTMENU"}, {WM_MOUSEMOVE, "WM_MOUSEMOVE"},
        {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"}, {WM_LBUTTONUP, "WM_LBUTTONUP"},
        {WM_ENTERIDLE, "WM_ENTERIDLE"}, {WM_CTLCOLORDLG, "WM_CTLCOLORDLG"},
        {WM_CTLCOLORBTN, "WM_CTLCOLORBTN"}, {WM_CTLCOLORSTATIC, "WM_CTLCOLORSTATIC"},
        {WM_USER, "WM_USER"},
    };
    auto it = kNames.find(m);
    return it != kNames.end() ? it->second : Hex(m);
}

// --- system facts ------------------------------------------------------------------------------

void SimOs::SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build, const std::string& csd)
{
    std::memset(&m_version, 0, sizeof m_version);
    m_version.dwOSVersionInfoSize = sizeof m_version;
    m_version.dwPlatformId = platformId;
    m_version.dwMajorVersion = major;
    m_version.dwMinorVersion = minor;
    m_version.dwBuildNumber = build;
    std::strncpy(m_version.szCSDVersion, csd.c_str(), sizeof m_version.szCSDVersion - 1);
}

void SimOs::SetDiskFree(char drive, DWORD spc, DWORD bps, DWORD freeClusters, DWORD totalClusters)
{
    m_diskFree[static_cast<char>(std::toupper(static_cast<unsigned char>(drive)))] =
        DiskFree{spc, bps, freeClusters, totalClusters};
}

void SimOs::SetLeadBytes(BYTE first, BYTE last)
{
    for (unsigned c = first; c <= last; ++c)
        m_leadBytes.insert(static_cast<BYTE>(c));
}

BOOL SimOs::GetVersionExA(OSVERSIONINFOA* info)
{
    size_t e = Begin(kSimCalls, "GetVersionExA", info ? "size=" + Dec(info->dwOSVersionInfoSize) : "null");
    if (!info) {
        Violation("GetVersionExA with a null record");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    if (SimFault* f = Faulted("GetVersionExA", ""))
        return Fails<BOOL>(e, FALSE, f->m_error);
    DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetResult(e, "FALSE");
        return Fails<BOOL>(e, FALSE, ERROR_INSUFFICIENT_BUFFER);
    }
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
        std::memset(reinterpret_cast<char*>(ex) + sizeof(OSVERSIONINFOA), 0,
                    sizeof(OSVERSIONINFOEXA) - sizeof(OSVERSIONINFOA));
        if (m_version.dwPlatformId == VER_PLATFORM_WIN32_NT)
            ex->wProductType = VER_NT_WORKSTATION;
    }
    info->dwMajorVersion = m_version.dwMajorVersion;
    info->dwMinorVersion = m_version.dwMinorVersion;
    info->dwBuildNumber = m_version.dwBuildNumber;
    info->dwPlatformId = m_version.dwPlatformId;
    std::memcpy(info->szCSDVersion, m_version.szCSDVersion, sizeof info->szCSDVersion);
    SetResult(e, "TRUE " + Dec(info->dwPlatformId) + " " + Dec(info->dwMajorVersion) + "." +
                     Dec(info->dwMinorVersion));
    return TRUE;
}

UINT SimOs::GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    size_t e = Begin(kSimCalls, "GetWindowsDirectoryA", "size=" + Dec(size));
    if (SimFault* f = Faulted("GetWindowsDirectoryA", ""))
        return Fails<UINT>(e, 0, f->m_error);
    UINT len = static_cast<UINT>(m_windowsDir.size());
    if (len + 1 > size) {
        // Too small: the size needed, terminator included, and nothing written.
        SetResult(e, Dec(len + 1));
        return len + 1;
    }
    if (!buffer) {
        Violation("GetWindowsDirectoryA with a null buffer");
        return Fails<UINT>(e, 0, ERROR_NOACCESS);
    }
    std::memcpy(buffer, m_windowsDir.c_str(), len + 1);
    SetResult(e, Dec(len));
    return len;
}

BOOL SimOs::GetDiskFreeSpaceA(LPCSTR root, LPDWORD spc, LPDWORD bps, LPDWORD freeClusters,
                              LPDWORD totalClusters)
{
    size_t e = Begin(kSimCalls, "GetDiskFreeSpaceA", Str(root));
    if (SimFault* f = Faulted("GetDiskFreeSpaceA", root ? root : ""))
        return Fails<BOOL>(e, FALSE, f->m_error);
    char letter;
    if (!root) {
        letter = m_currentDrive;
    } else {
        // Only a drive root, "X:\", names a disk here, as Windows 95 and NT 4 require (later
        // systems take any directory): a caller that passes more shows up.
        if (std::strlen(root) != 3 || !std::isalpha(static_cast<unsigned char>(root[0])) ||
            root[1] != ':' || (root[2] != '\\' && root[2] != '/')) {
            SetResult(e, "FALSE");
            return Fails<BOOL>(e, FALSE, ERROR_INVALID_NAME);
        }
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    }
    if (!DriveOf(letter)) {
        SetResult(e, "FALSE");
        return Fails<BOOL>(e, FALSE, ERROR_PATH_NOT_FOUND);
    }
    DiskFree d{8, 512, 262144, 524288};
    auto it = m_diskFree.find(letter);
    if (it != m_diskFree.end())
        d = it->second;
    if (spc) *spc = d.spc;
    if (bps) *bps = d.bps;
    if (freeClusters) *freeClusters = d.free;
    if (totalClusters) *totalClusters = d.total;
    SetResult(e, "TRUE " + Dec(d.spc) + "x" + Dec(d.bps) + "x" + Dec(d.free));
    return TRUE;
}

DWORD SimOs::GetLastError()
{
    size_t e = Begin(kSimQuiet, "GetLastError", "");
    SetResult(e, Dec(m_lastError));
    return m_lastError;
}

UINT SimOs::SetErrorMode(UINT mode)
{
    size_t e = Begin(kSimCalls, "SetErrorMode", Hex(mode));
    UINT previous = m_errorMode;
    m_errorMode = mode;
    SetResult(e, Hex(previous));
    return previous;
}

HMODULE SimOs::GetModuleHandleA(LPCSTR name)
{
    size_t e = Begin(kSimCalls, "GetModuleHandleA", Str(name));
    if (SimFault* f = Faulted("GetModuleHandleA", name ? name : "null"))
        return Fails<HMODULE>(e, nullptr, f->m_error);
    if (name) {
        std::string base = m_modulePath.substr(m_modulePath.find_last_of("\\/:") + 1);
        std::string asked = name;
        std::string stem = base.substr(0, base.rfind('.'));
        if (!IEquals(asked, base) && !IEquals(asked, stem)) {
            SetResult(e, "null");
            return Fails<HMODULE>(e, nullptr, ERROR_MOD_NOT_FOUND);
        }
    }
    SetResult(e, Hex8(reinterpret_cast<uintptr_t>(m_module)));
    return m_module;
}

DWORD SimOs::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    size_t e = Begin(kSimCalls, "GetModuleFileNameA",
                     (module ? Hex8(reinterpret_cast<uintptr_t>(module)) : "null") + ", size=" + Dec(size));
    if (SimFault* f = Faulted("GetModuleFileNameA", ""))
        return Fails<DWORD>(e, 0, f->m_error);
    if (module && module != m_module)
        return Fails<DWORD>(e, 0, ERROR_MOD_NOT_FOUND);
    if (size == 0)
        return Fails<DWORD>(e, 0, ERROR_INSUFFICIENT_BUFFER);
    if (!buffer) {
        Violation("GetModuleFileNameA with a null buffer");
        return Fails<DWORD>(e, 0, ERROR_NOACCESS);
    }
    DWORD len = static_cast<DWORD>(m_modulePath.size());
    if (len < size) {
        std::memcpy(buffer, m_modulePath.c_str(), len + 1);
        SetResult(e, Dec(len));
        return len;
    }
    // Truncated to the buffer without a terminator, as Windows XP and Wine do (Vista and later
    // terminate it); the full size and the error say so.
    std::memcpy(buffer, m_modulePath.c_str(), size);
    SetResult(e, Dec(size));
    m_lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
}

void SimOs::Sleep(DWORD ms)
{
    Begin(kSimCalls, "Sleep", ms == INFINITE ? "INFINITE" : Dec(ms));
    if (ms == INFINITE)
        Abort("Sleep(INFINITE) never returns");
    AdvanceTo(m_now + ms, "Sleep");
}

BOOL SimOs::IsDBCSLeadByte(BYTE c)
{
    size_t e = Begin(kSimQuiet, "IsDBCSLeadByte", Hex(c));
    BOOL lead = m_leadBytes.count(c) ? TRUE : FALSE;
    SetResult(e, Bool(lead));
    return lead;
}

// --- memory ------------------------------------------------------------------------------------

size_t SimOs::LiveBytes() const
{
    size_t total = 0;
    for (const auto& b : m_blocks)
        total += b.second;
    return total;
}

void* SimOs::Allocate(size_t bytes)
{
    size_t e = Begin(kSimQuiet, "Allocate", Dec(bytes));
    if (SimFault* f = Faulted("Allocate", Dec(bytes)))
        return Fails<void*>(e, nullptr, f->m_error);
    if (m_allocBudget == 0) {
        SetResult(e, "null");
        return Fails<void*>(e, nullptr, ERROR_NOT_ENOUGH_MEMORY);
    }
    if (m_allocBudget > 0)
        --m_allocBudget;
    // Every sim allocates from the C heap, so a block may be freed through another sim.
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block)
        return Fails<void*>(e, nullptr, ERROR_NOT_ENOUGH_MEMORY);
    // As a debug heap does: fresh blocks hold 0xCD and freed ones 0xDD, so code that relies on
    // memory it never set, or uses a block after freeing it, shows itself.
    std::memset(block, 0xCD, bytes);
    m_blocks[block] = bytes;
    ++m_allocations;
    SetResult(e, Hex(reinterpret_cast<uintptr_t>(block)));
    return block;
}

void SimOs::Free(void* block)
{
    Begin(kSimQuiet, "Free", Hex(reinterpret_cast<uintptr_t>(block)));
    if (!block)
        return;
    auto it = m_blocks.find(block);
    if (it != m_blocks.end()) {
        std::memset(block, 0xDD, it->second);
        m_blocks.erase(it);
    }
    std::free(block);
}

// --- resources ---------------------------------------------------------------------------------

namespace {
std::string TypeKey(LPCSTR type)
{
    if (IS_INTRESOURCE(type))
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(type));
    if (type[0] == '#')
        return "#" + std::to_string(std::strtoul(type + 1, nullptr, 10));
    return Upper(type);
}

// A resource name as an id: MAKEINTRESOURCE(n) or "#n"; 0 for any other name.
WORD NameId(LPCSTR name)
{
    if (IS_INTRESOURCE(name))
        return static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    if (name && name[0] == '#')
        return static_cast<WORD>(std::strtoul(name + 1, nullptr, 10));
    return 0;
}

const char kEmptyResource[1] = {0};
}  // namespace

void SimOs::AddResource(LPCSTR type, WORD id, const std::string& bytes)
{
    std::string key = TypeKey(type);
    for (auto& r : m_resources)
        if (!r->removed && r->type == key && r->id == id) {
            r->removed = true;   // replaced; its data stays valid for anyone still holding it
        }
    m_resources.push_back(std::unique_ptr<Resource>(new Resource{key, id, bytes}));
}

void SimOs::RemoveResource(LPCSTR type, WORD id)
{
    std::string key = TypeKey(type);
    for (auto& r : m_resources)
        if (r->type == key && r->id == id)
            r->removed = true;
}

const void* SimOs::ResourceData(LPCSTR type, WORD id) const
{
    std::string key = TypeKey(type);
    for (auto& r : m_resources)
        if (!r->removed && r->type == key && r->id == id)
            return r->bytes.empty() ? kEmptyResource : r->bytes.data();
    return nullptr;
}

HRSRC SimOs::FindResourceA(HMODULE module, LPCSTR name, LPCSTR type)
{
    std::string idText = IS_INTRESOURCE(name) ? Dec(NameId(name)) : Str(name);
    size_t e = Begin(kSimCalls, "FindResourceA",
                     (module ? Hex8(reinterpret_cast<uintptr_t>(module)) : "null") + ", " +
                         ResName(name) + ", " + ResName(type));
    if (SimFault* f = Faulted("FindResourceA", idText))
        return Fails<HRSRC>(e, nullptr, f->m_error);
    if (module && module != m_module)
        return Fails<HRSRC>(e, nullptr, ERROR_RESOURCE_DATA_NOT_FOUND);
    if (!type || !name)
        return Fails<HRSRC>(e, nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND);
    std::string key = TypeKey(type);
    WORD id = NameId(name);
    bool typeSeen = false;
    for (size_t i = 0; i < m_resources.size(); ++i) {
        const Resource& r = *m_resources[i];
        if (r.removed || r.type != key)
            continue;
        typeSeen = true;
        if (id && r.id == id) {
            SetResult(e, "#" + Dec(id));
            return reinterpret_cast<HRSRC>(kResBase + i * 16);
        }
    }
    SetResult(e, "null");
    return Fails<HRSRC>(e, nullptr, typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
}

namespace {
// The table index behind a fake HRSRC/HGLOBAL, or -1.
long ResIndex(const void* h, uintptr_t base, size_t count)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < base || (v - base) % 16 != 0 || (v - base) / 16 >= count)
        return -1;
    return static_cast<long>((v - base) / 16);
}
}  // namespace

HGLOBAL SimOs::LoadResource(HMODULE module, HRSRC resource)
{
    long i = ResIndex(resource, kResBase, m_resources.size());
    std::string id = i >= 0 ? Dec(m_resources[i]->id) : std::string();
    size_t e = Begin(kSimCalls, "LoadResource",
                     (module ? Hex8(reinterpret_cast<uintptr_t>(module)) : "null") + ", " +
                         (i >= 0 ? "#" + id : Hex(reinterpret_cast<uintptr_t>(resource))));
    if (SimFault* f = Faulted("LoadResource", id))
        return Fails<HGLOBAL>(e, nullptr, f->m_error);
    if ((module && module != m_module) || i < 0)
        return Fails<HGLOBAL>(e, nullptr, ERROR_INVALID_HANDLE);
    SetResult(e, "loaded #" + id);
    return reinterpret_cast<HGLOBAL>(kLoadedBase + i * 16);
}

LPVOID SimOs::LockResource(HGLOBAL loaded)
{
    long i = ResIndex(loaded, kLoadedBase, m_resources.size());
    std::string id = i >= 0 ? Dec(m_resources[i]->id) : std::string();
    size_t e = Begin(kSimCalls, "LockResource", i >= 0 ? "#" + id : Hex(reinterpret_cast<uintptr_t>(loaded)));
    if (SimFault* f = Faulted("LockResource", id))
        return Fails<LPVOID>(e, nullptr, f->m_error);
    if (i < 0)
        return Fails<LPVOID>(e, nullptr, ERROR_INVALID_HANDLE);
    const std::string& bytes = m_resources[i]->bytes;
    SetResult(e, "data #" + id);
    return const_cast<char*>(bytes.empty() ? kEmptyResource : bytes.data());
}

DWORD SimOs::SizeofResource(HMODULE module, HRSRC resource)
{
    long i = ResIndex(resource, kResBase, m_resources.size());
    std::string id = i >= 0 ? Dec(m_resources[i]->id) : std::string();
    size_t e = Begin(kSimCalls, "SizeofResource",
                     (module ? Hex8(reinterpret_cast<uintptr_t>(module)) : "null") + ", " +
                         (i >= 0 ? "#" + id : Hex(reinterpret_cast<uintptr_t>(resource))));
    if (SimFault* f = Faulted("SizeofResource", id))
        return Fails<DWORD>(e, 0, f->m_error);
    if ((module && module != m_module) || i < 0)
        return Fails<DWORD>(e, 0, ERROR_INVALID_HANDLE);
    DWORD size = static_cast<DWORD>(m_resources[i]->bytes.size());
    SetResult(e, Dec(size));
    return size;
}

// --- handles -------------------------------------------------------------------------------------

HANDLE SimOs::NewHandle(std::unique_ptr<Handle> h)
{
    uintptr_t value = m_nextHandle;
    m_nextHandle += 4;
    m_handles[value] = std::move(h);
    return reinterpret_cast<HANDLE>(value);
}

SimOs::Handle* SimOs::Find(HANDLE h, bool includeClosed) const
{
    auto it = m_handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == m_handles.end() || (!it->second->open && !includeClosed))
        return nullptr;
    return it->second.get();
}

int SimOs::OpenHandleCount() const
{
    int n = 0;
    for (const auto& h : m_handles)
        n += h.second->open ? 1 : 0;
    return n;
}

int SimOs::OpenFileHandles() const
{
    int n = 0;
    for (const auto& h : m_handles)
        n += h.second->open && h.second->kind == Handle::File ? 1 : 0;
    return n;
}

int SimOs::OpenProcessHandles() const
{
    int n = 0;
    for (const auto& h : m_handles)
        n += h.second->open && (h.second->kind == Handle::Process || h.second->kind == Handle::Thread) ? 1 : 0;
    return n;
}

int SimOs::OpenSnapshotHandles() const
{
    int n = 0;
    for (const auto& h : m_handles)
        n += h.second->open && h.second->kind == Handle::Snap ? 1 : 0;
    return n;
}

std::vector<std::string> SimOs::OpenHandleNames() const
{
    std::vector<std::string> names;
    for (const auto& h : m_handles)
        if (h.second->open)
            names.push_back(HandleName(reinterpret_cast<HANDLE>(h.first)));
    return names;
}

BOOL SimOs::CloseHandle(HANDLE handle)
{
    size_t e = Begin(kSimCalls, "CloseHandle", HandleName(handle));
    // The current-process pseudo-handle: closing it is allowed and does nothing.
    if (handle == INVALID_HANDLE_VALUE) {
        SetResult(e, "TRUE");
        return TRUE;
    }
    Handle* h = Find(handle);
    if (!h) {
        SetResult(e, "FALSE");
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_HANDLE);
    }
    std::string key = h->kind == Handle::File ? h->openedAs : h->kind == Handle::Snap ? "snapshot" : Dec(h->pid);
    h->open = false;
    h->node.reset();
    if (SimFault* f = Faulted("CloseHandle", key)) {
        SetResult(e, "FALSE");
        return Fails<BOOL>(e, FALSE, f->m_error);
    }
    SetResult(e, "TRUE");
    return TRUE;
}
