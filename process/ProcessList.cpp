#include "process/ProcessList.h"

static_assert(sizeof(THREADENTRY32) == 28, "Toolhelp thread record");
static_assert(sizeof(PROCESSENTRY32) == 296, "Toolhelp process record (ANSI)");
static_assert(sizeof(MODULEENTRY32) == 548, "Toolhelp module record (ANSI)");

void CThreadEntry::operator=(const CThreadEntry& src)
{
    std::memcpy(&m_threadEntry, &src.m_threadEntry, sizeof m_threadEntry);
}

CProcessInfo::CProcessInfo(const CProcessInfo& src) : CObject()
{
    CopyFrom(src);
}

void CProcessInfo::operator=(const CProcessInfo& src)
{
    if (this != &src)
        CopyFrom(src);
}

void CProcessInfo::CopyFrom(const CProcessInfo& src)
{
    std::memcpy(&m_processEntry, &src.m_processEntry, sizeof m_processEntry);
    m_threads.SetSize(src.m_threads.GetSize());
    for (INT_PTR i = 0; i < src.m_threads.GetSize(); ++i)
        m_threads[i] = src.m_threads[i];
    std::memcpy(&m_moduleEntry, &src.m_moduleEntry, sizeof m_moduleEntry);
}

bool CProcessList::Snapshot()
{
    PROCESSENTRY32 entry;
    std::memset(&entry, 0, sizeof entry);

    HANDLE hSnapshot = os().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return false;

    entry.dwSize = sizeof entry;
    if (!os().Process32First(hSnapshot, &entry)) {
        os().CloseHandle(hSnapshot);
        return false;
    }

    try {
        do {
            const INT_PTR index = m_processes.Add(CProcessInfo());
            std::memcpy(&m_processes[index].m_processEntry, &entry, sizeof entry);
            ++m_nCount;
        } while (os().Process32Next(hSnapshot, &entry));
    } catch (CMemoryException*) {
        // The records so far stay; the exception is the caller's, but the handle is ours.
        os().CloseHandle(hSnapshot);
        throw;
    }

    os().CloseHandle(hSnapshot);
    return true;
}
