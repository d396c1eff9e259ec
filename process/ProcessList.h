// A picture of the running processes, taken through a Toolhelp snapshot.
#pragma once

#include "platform/afx.h"

// One Toolhelp thread record.
class CThreadEntry : public CObject {
public:
    CThreadEntry() {}
    ~CThreadEntry() override {}
    void operator=(const CThreadEntry& src);

    THREADENTRY32 m_threadEntry;
};

// One process: its Toolhelp entry, with room for a module record and its threads.
class CProcessInfo : public CObject {
public:
    CProcessInfo() {}
    CProcessInfo(const CProcessInfo& src);
    ~CProcessInfo() override {}
    // A deep copy: the thread list ends up with exactly the source's records in its own storage.
    void operator=(const CProcessInfo& src);

    PROCESSENTRY32 m_processEntry;
    MODULEENTRY32 m_moduleEntry;
    CArray<CThreadEntry, CThreadEntry&> m_threads;

private:
    void CopyFrom(const CProcessInfo& src);
};

// The processes of one snapshot, in the order the system listed them.
class CProcessList : public CObject {
public:
    CProcessList() : m_nCount(0) {}
    ~CProcessList() override {}

    // Appends one record per running process. FALSE, with the list unchanged, when no
    // snapshot could be taken or its first entry could not be read.
    bool Snapshot();

    CArray<CProcessInfo, CProcessInfo> m_processes;
    int m_nCount;   // entries Snapshot has written: always the array's size
};
