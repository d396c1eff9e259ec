// The simulated Windows: the process table on the virtual clock, process creation, handles,
// waits, exit codes and Toolhelp snapshots.
#include "sim/SimOsInternal.h"

#include <cstring>

using namespace simdetail;

namespace {

std::string BaseName(const std::string& path)
{
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Ms(DWORD ms) { return ms == INFINITE ? "INFINITE" : std::to_string(ms); }

}  // namespace

// --- the table -------------------------------------------------------------------------------

DWORD SimOs::StartProcess(const SimProgram& program, const std::string& exeFile,
                          const std::string& imagePath, const std::string& dir, uint64_t start,
                          DWORD parent)
{
    SimProcess p;
    p.pid = m_nextPid;
    m_nextPid += 4;
    p.parentPid = parent;
    p.exeFile = exeFile;
    p.imagePath = imagePath;
    p.currentDirectory = dir;
    p.start = start;
    p.end = program.runsFor == kSimForever ? kSimForever : start + program.runsFor;
    p.exitCode = program.exitCode;
    p.openable = program.openable;
    p.idle = program.idle;
    p.idleAfter = program.idleAfter;
    p.blankNameSnapshots = program.blankNameSnapshots;
    m_processes.push_back(p);
    DWORD pid = p.pid;
    // Its children are entered now, to start at their own times.
    for (const SimSpawn& s : program.spawns)
        StartProcess(s.program, s.program.exeFile.value_or(std::string()), std::string(), std::string(),
                     start + s.after, pid);
    return pid;
}

SimProcess* SimOs::ProcessPtr(DWORD pid)
{
    for (SimProcess& p : m_processes)
        if (p.pid == pid)
            return &p;
    return nullptr;
}

const SimProcess* SimOs::ProcessPtr(DWORD pid) const
{
    for (const SimProcess& p : m_processes)
        if (p.pid == pid)
            return &p;
    return nullptr;
}

void SimOs::SetProgram(const std::string& fileName, const SimProgram& program)
{
    m_programs[Upper(BaseName(fileName))] = program;
}

DWORD SimOs::AddProcess(const std::string& exeFile, const SimProgram& program, uint64_t startAt)
{
    return StartProcess(program, exeFile, std::string(), std::string(), startAt, 0);
}

void SimOs::EndProcess(DWORD pid, DWORD exitCode)
{
    SimProcess* p = ProcessPtr(pid);
    if (!p) {
        ADD_FAILURE() << "SimOs::EndProcess: no process " << pid;
        return;
    }
    if (p->start > m_now)
        p->start = m_now;   // ended before it started: it never runs
    if (p->end > m_now) {
        p->end = m_now;
        p->exitCode = exitCode;
    }
}

const SimProcess& SimOs::Process(DWORD pid) const
{
    static const SimProcess kNone{};
    const SimProcess* p = ProcessPtr(pid);
    if (!p) {
        ADD_FAILURE() << "SimOs::Process: no process " << pid;
        return kNone;
    }
    return *p;
}

std::vector<DWORD> SimOs::ProcessIds() const
{
    std::vector<DWORD> ids;
    for (const SimProcess& p : m_processes)
        ids.push_back(p.pid);
    return ids;
}

DWORD SimOs::PidOf(const std::string& exeFile) const
{
    for (const SimProcess& p : m_processes)
        if (p.exeFile == exeFile)
            return p.pid;
    return 0;
}

bool SimOs::Running(DWORD pid) const
{
    const SimProcess* p = ProcessPtr(pid);
    return p && p->RunningAt(m_now);
}

// --- creation ------------------------------------------------------------------------------------

BOOL SimOs::CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES pa,
                           LPSECURITY_ATTRIBUTES ta, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA si,
                           LPPROCESS_INFORMATION info)
{
    size_t e = Begin(kSimCalls, "CreateProcessA",
                     Str(application) + ", cmd=" + (commandLine ? Quote(commandLine) : "null") +
                         ", dir=" + Str(currentDirectory));
    SimLaunch rec{};
    if (application) rec.application = application;
    if (commandLine) rec.commandLine = commandLine;
    rec.processAttributesPtr = pa;
    if (pa) rec.processAttributes = *pa;
    rec.threadAttributesPtr = ta;
    if (ta) rec.threadAttributes = *ta;
    rec.inheritHandles = inheritHandles;
    rec.creationFlags = creationFlags;
    rec.environment = environment;
    if (currentDirectory) rec.currentDirectory = currentDirectory;
    rec.startupInfoPtr = si;
    if (si) {
        rec.startupInfo = *si;
        if (si->lpDesktop) rec.desktop = si->lpDesktop;
        if (si->lpTitle) rec.title = si->lpTitle;
    }
    rec.processInformationPtr = info;
    m_launches.push_back(rec);
    size_t li = m_launches.size() - 1;
    auto fail = [&](DWORD error) {
        m_launches[li].result = FALSE;
        m_launches[li].error = error;
        return Fails<BOOL>(e, FALSE, error);
    };

    if (!si || !info) {
        Violation("CreateProcessA without a STARTUPINFOA or a PROCESS_INFORMATION");
        return fail(ERROR_NOACCESS);
    }
    std::string program;
    if (application) {
        program = application;
    } else if (commandLine) {
        // The first token of the command line, as the system would take it.
        std::string cmd = commandLine;
        if (!cmd.empty() && cmd[0] == '"')
            program = cmd.substr(1, cmd.find('"', 1) - 1);
        else
            program = cmd.substr(0, cmd.find(' '));
        if (BaseName(program).find('.') == std::string::npos)
            program += ".exe";
    } else {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (SimFault* f = Faulted("CreateProcessA", program))
        return fail(f->m_error);

    auto node = Lookup(program);
    if (!node) {
        auto r = Resolve(program);
        std::string parent = program.substr(0, program.find_last_of("\\/") == std::string::npos ? 0 : program.find_last_of("\\/") + 1);
        bool parentExists = parent.empty() || (Lookup(parent) && Lookup(parent)->dir);
        return fail(r && parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    if (node->dir)
        return fail(ERROR_ACCESS_DENIED);
    std::string dir;
    if (currentDirectory) {
        auto d = Lookup(currentDirectory);
        if (!d || !d->dir)
            return fail(ERROR_DIRECTORY);
        std::string path = std::string(1, d->drive) + ":\\";
        std::vector<std::string> parts;
        for (Node* p = d.get(); p && p->parent; p = p->parent)
            parts.insert(parts.begin(), p->name);
        for (size_t i = 0; i < parts.size(); ++i)
            path += (i ? "\\" : "") + parts[i];
        dir = path;
    } else {
        dir = CurrentDirectory();
    }
    SimProgram behaviour;
    auto it = m_programs.find(Upper(node->name));
    if (it != m_programs.end())
        behaviour = it->second;
    if (behaviour.notAProgram)
        return fail(ERROR_BAD_EXE_FORMAT);

    // Toolhelp lists a started file under its own base name, in the case it has on disk.
    DWORD pid = StartProcess(behaviour, behaviour.exeFile.value_or(node->name), program, dir, m_now, 0);
    auto ph = std::make_unique<Handle>();
    ph->kind = Handle::Process;
    ph->pid = pid;
    ph->access = PROCESS_ALL_ACCESS;
    auto th = std::make_unique<Handle>();
    th->kind = Handle::Thread;
    th->pid = pid;
    th->access = THREAD_ALL_ACCESS;
    info->hProcess = NewHandle(std::move(ph));
    info->hThread = NewHandle(std::move(th));
    info->dwProcessId = pid;
    info->dwThreadId = pid + 2;
    m_launches[li].result = TRUE;
    m_launches[li].pid = pid;
    SetResult(e, "TRUE pid=" + Dec(pid));
    return TRUE;
}

// --- waits ---------------------------------------------------------------------------------------

DWORD SimOs::WaitForSingleObject(HANDLE handle, DWORD ms)
{
    size_t e = Begin(kSimCalls, "WaitForSingleObject", HandleName(handle) + ", " + Ms(ms));
    Handle* h = Find(handle);
    std::string key = !h ? std::string() : h->kind == Handle::File ? h->openedAs
                                        : h->kind == Handle::Snap ? "snapshot" : Dec(h->pid);
    if (SimFault* f = Faulted("WaitForSingleObject", key))
        return Fails<DWORD>(e, WAIT_FAILED, f->m_error);
    if (!h || h->kind == Handle::Snap)
        return Fails<DWORD>(e, WAIT_FAILED, ERROR_INVALID_HANDLE);
    if (h->kind == Handle::File) {
        SetResult(e, "WAIT_OBJECT_0");
        return WAIT_OBJECT_0;
    }
    if (!(h->access & SYNCHRONIZE))
        return Fails<DWORD>(e, WAIT_FAILED, ERROR_ACCESS_DENIED);
    DWORD pid = h->pid;
    uint64_t deadline = ms == INFINITE ? kSimForever : m_now + ms;
    std::string what = "WaitForSingleObject(" + HandleName(handle) + ", " + Ms(ms) + ")";
    for (;;) {
        const SimProcess* p = ProcessPtr(pid);
        if (p->end <= m_now) {
            SetResult(e, "WAIT_OBJECT_0");
            return WAIT_OBJECT_0;
        }
        if (m_now >= deadline) {
            SetResult(e, "WAIT_TIMEOUT");
            return WAIT_TIMEOUT;
        }
        uint64_t stop = std::min({p->end, NextEventTime(), deadline});
        if (stop == kSimForever)
            Abort(what + " waits forever: the process never ends and no event is scheduled");
        AdvanceTo(stop, what.c_str());
    }
}

DWORD SimOs::WaitForInputIdle(HANDLE process, DWORD ms)
{
    size_t e = Begin(kSimCalls, "WaitForInputIdle", HandleName(process) + ", " + Ms(ms));
    Handle* h = Find(process);
    std::string key = h && h->kind == Handle::Process ? Dec(h->pid) : std::string();
    if (SimFault* f = Faulted("WaitForInputIdle", key))
        return Fails<DWORD>(e, WAIT_FAILED, f->m_error);
    if (!h || h->kind != Handle::Process)
        return Fails<DWORD>(e, WAIT_FAILED, ERROR_INVALID_HANDLE);
    // As Wine shows: a handle opened for query alone cannot be waited on.
    if (!(h->access & SYNCHRONIZE) || !(h->access & PROCESS_QUERY_INFORMATION))
        return Fails<DWORD>(e, WAIT_FAILED, ERROR_ACCESS_DENIED);
    DWORD pid = h->pid;
    const SimProcess* p = ProcessPtr(pid);
    if (p->end <= m_now) {
        SetResult(e, "WAIT_FAILED (ended)");
        return WAIT_FAILED;
    }
    if (p->idle == SimIdle::Failed) {
        SetResult(e, "WAIT_FAILED");
        return WAIT_FAILED;
    }
    uint64_t deadline = ms == INFINITE ? kSimForever : m_now + ms;
    std::string what = "WaitForInputIdle(" + HandleName(process) + ", " + Ms(ms) + ")";
    for (;;) {
        p = ProcessPtr(pid);
        if (p->end <= m_now) {
            // It ended while being waited for: the wait ends with it, answering 0, as Wine does.
            SetResult(e, "0 (ended)");
            return 0;
        }
        uint64_t idleAt = p->idle == SimIdle::Idle ? p->start + p->idleAfter : kSimForever;
        if (idleAt <= m_now) {
            SetResult(e, "0");
            return 0;
        }
        if (m_now >= deadline) {
            SetResult(e, "WAIT_TIMEOUT");
            return WAIT_TIMEOUT;
        }
        uint64_t stop = std::min({p->end, idleAt, NextEventTime(), deadline});
        if (stop == kSimForever)
            Abort(what + " waits forever: the process never becomes idle or ends, and no event is scheduled");
        AdvanceTo(stop, what.c_str());
    }
}

BOOL SimOs::GetExitCodeProcess(HANDLE process, LPDWORD code)
{
    size_t e = Begin(kSimCalls, "GetExitCodeProcess", HandleName(process));
    Handle* h = Find(process);
    std::string key = h && h->kind == Handle::Process ? Dec(h->pid) : std::string();
    if (SimFault* f = Faulted("GetExitCodeProcess", key))
        return Fails<BOOL>(e, FALSE, f->m_error);
    if (!code) {
        Violation("GetExitCodeProcess with a null code");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    if (!h || h->kind != Handle::Process)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_HANDLE);
    if (!(h->access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)))
        return Fails<BOOL>(e, FALSE, ERROR_ACCESS_DENIED);
    const SimProcess* p = ProcessPtr(h->pid);
    *code = p->end <= m_now ? p->exitCode : STILL_ACTIVE;
    SetResult(e, "TRUE code=" + Dec(*code));
    return TRUE;
}

HANDLE SimOs::OpenProcess(DWORD access, BOOL inherit, DWORD processId)
{
    size_t e = Begin(kSimCalls, "OpenProcess", Hex(access) + ", " + Dec(inherit) + ", " + Dec(processId));
    if (SimFault* f = Faulted("OpenProcess", Dec(processId)))
        return Fails<HANDLE>(e, nullptr, f->m_error);
    SimProcess* p = ProcessPtr(processId);
    if (!p || !p->RunningAt(m_now))
        return Fails<HANDLE>(e, nullptr, ERROR_INVALID_PARAMETER);
    if (!p->openable)
        return Fails<HANDLE>(e, nullptr, ERROR_ACCESS_DENIED);
    p->openAccesses.push_back(access);
    auto h = std::make_unique<Handle>();
    h->kind = Handle::Process;
    h->pid = processId;
    h->access = access;
    HANDLE value = NewHandle(std::move(h));
    SetResult(e, HandleName(value));
    return value;
}

// --- Toolhelp ----------------------------------------------------------------------------------

HANDLE SimOs::CreateToolhelp32Snapshot(DWORD flags, DWORD processId)
{
    size_t e = Begin(kSimCalls, "CreateToolhelp32Snapshot", Hex(flags) + ", " + Dec(processId));
    if (SimFault* f = Faulted("CreateToolhelp32Snapshot", ""))
        return Fails<HANDLE>(e, INVALID_HANDLE_VALUE, f->m_error);
    ++m_snapshotsTaken;
    auto h = std::make_unique<Handle>();
    h->kind = Handle::Snap;
    h->snap.serial = ++m_snapshotSerial;
    h->snap.flags = flags;
    if (flags & TH32CS_SNAPPROCESS) {
        for (SimProcess& p : m_processes) {
            if (!p.RunningAt(m_now))
                continue;
            std::string name = p.exeFile;
            if (p.blankNameSnapshots > 0) {
                --p.blankNameSnapshots;
                name.clear();
            }
            h->snap.items.push_back(Snapshot::Item{p.pid, p.parentPid, name});
        }
    }
    size_t listed = h->snap.items.size();
    HANDLE value = NewHandle(std::move(h));
    SetResult(e, HandleName(value) + " (" + Dec(listed) + " processes)");
    return value;
}

BOOL SimOs::FillEntry(size_t e, Snapshot& s, LPPROCESSENTRY32 out)
{
    if (s.next >= s.items.size() || !(s.flags & TH32CS_SNAPPROCESS))
        return Fails<BOOL>(e, FALSE, ERROR_NO_MORE_FILES);
    const Snapshot::Item& item = s.items[s.next++];
    // dwSize stays as the caller set it; the name is copied with its terminator only, so
    // bytes of a longer earlier name remain beyond it, as with the system's own copy.
    out->cntUsage = 0;
    out->th32ProcessID = item.pid;
    out->th32DefaultHeapID = 0;
    out->th32ModuleID = 0;
    out->cntThreads = 1;
    out->th32ParentProcessID = item.parent;
    out->pcPriClassBase = 8;
    out->dwFlags = 0;
    size_t n = std::min(item.exeFile.size(), sizeof out->szExeFile - 1);
    std::memcpy(out->szExeFile, item.exeFile.data(), n);
    out->szExeFile[n] = '\0';
    m_entries.push_back(*out);
    SetResult(e, "TRUE " + Dec(item.pid) + " \"" + item.exeFile + "\"");
    return TRUE;
}

BOOL SimOs::Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry)
{
    size_t e = Begin(kSimCalls, "Process32First",
                     HandleName(snapshot) + ", " + (entry ? "dwSize=" + Dec(entry->dwSize) : "null"));
    if (SimFault* f = Faulted("Process32First", ""))
        return Fails<BOOL>(e, FALSE, f->m_error);
    Handle* h = Find(snapshot);
    if (!h || h->kind != Handle::Snap)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_HANDLE);
    if (!entry) {
        Violation("Process32First with a null entry");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    if (entry->dwSize < sizeof(PROCESSENTRY32))
        return Fails<BOOL>(e, FALSE, ERROR_INSUFFICIENT_BUFFER);
    h->snap.next = 0;
    return FillEntry(e, h->snap, entry);
}

BOOL SimOs::Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry)
{
    size_t e = Begin(kSimCalls, "Process32Next",
                     HandleName(snapshot) + ", " + (entry ? "dwSize=" + Dec(entry->dwSize) : "null"));
    if (SimFault* f = Faulted("Process32Next", ""))
        return Fails<BOOL>(e, FALSE, f->m_error);
    Handle* h = Find(snapshot);
    if (!h || h->kind != Handle::Snap)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_HANDLE);
    if (!entry) {
        Violation("Process32Next with a null entry");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    if (entry->dwSize < sizeof(PROCESSENTRY32))
        return Fails<BOOL>(e, FALSE, ERROR_INSUFFICIENT_BUFFER);
    return FillEntry(e, h->snap, entry);
}
