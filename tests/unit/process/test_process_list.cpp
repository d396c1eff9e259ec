// The process snapshot: CProcessList::Snapshot against the simulated Toolhelp calls, and the
// copy semantics of the process and thread records it is built from.
#include "process/ProcessList.h"

#include "sim/SimOs.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// "" when the two records hold the same bytes, else where they first differ.
template <class T>
std::string FirstDifference(const T& got, const T& expected)
{
    const unsigned char* g = reinterpret_cast<const unsigned char*>(&got);
    const unsigned char* e = reinterpret_cast<const unsigned char*>(&expected);
    for (size_t i = 0; i < sizeof(T); ++i) {
        if (g[i] != e[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "byte %u of %u: got 0x%02x, expected 0x%02x",
                          static_cast<unsigned>(i), static_cast<unsigned>(sizeof(T)), g[i], e[i]);
            return text;
        }
    }
    return "";
}

// Fills a record with a byte pattern of its own, so that copies can be told from originals.
template <class T>
void Fill(T& record, unsigned seed)
{
    unsigned char* p = reinterpret_cast<unsigned char*>(&record);
    for (size_t i = 0; i < sizeof(T); ++i)
        p[i] = static_cast<unsigned char>(seed * 37u + i * 7u + 1u);
}

template <class T>
T Pattern(unsigned seed)
{
    T record;
    Fill(record, seed);
    return record;
}

// A process record whose three parts all carry patterns derived from seed, with k threads.
void MakeInfo(CProcessInfo& info, unsigned seed, int threads)
{
    Fill(info.m_processEntry, seed);
    Fill(info.m_moduleEntry, seed + 1);
    info.m_threads.SetSize(threads);
    for (int i = 0; i < threads; ++i)
        Fill(info.m_threads[i].m_threadEntry, seed + 2 + i);
}

// Checks that info holds exactly what MakeInfo(seed, threads) put into a record.
void ExpectInfo(const CProcessInfo& info, unsigned seed, int threads, const std::string& what)
{
    EXPECT_EQ("", FirstDifference(info.m_processEntry, Pattern<PROCESSENTRY32>(seed)))
        << what << ": expected the source's process entry";
    EXPECT_EQ("", FirstDifference(info.m_moduleEntry, Pattern<MODULEENTRY32>(seed + 1)))
        << what << ": expected the source's module entry";
    ASSERT_EQ(threads, info.m_threads.GetSize()) << what << ": expected the source's thread count";
    for (int i = 0; i < threads; ++i)
        EXPECT_EQ("", FirstDifference(info.m_threads[i].m_threadEntry, Pattern<THREADENTRY32>(seed + 2 + i)))
            << what << ": expected thread record " << i << " equal to the source's";
}

// Names of different lengths, longest first, so that a shorter name lands on the bytes of a
// longer one and only a whole-record copy reproduces what the system returned.
const char* const kNames[] = {
    "C:\\Program Files\\Some Vendor\\long-running-service.exe", "explorer.exe", "a.exe",
    "_INS5176._MP", "winevdm.exe", "x",
};

std::string NameFor(int i)
{
    const size_t n = sizeof kNames / sizeof kNames[0];
    return std::string(kNames[i % n]) + (i >= static_cast<int>(n) ? std::to_string(i) : "");
}

class ProcessListTest : public SimTest {
protected:
    void AddProcesses(int n)
    {
        for (int i = 0; i < n; ++i)
            sim.AddProcess(NameFor(i), SimProgram().RunsForever());
    }

    // Records [from, from + count) of the list against the entries the system returned, in order.
    void ExpectRecordsAreEntries(const CProcessList& list, size_t from, size_t count, size_t firstEntry)
    {
        const std::vector<PROCESSENTRY32>& entries = sim.EntriesReturned();
        ASSERT_LE(firstEntry + count, entries.size()) << "expected at least as many entries returned as records";
        for (size_t i = 0; i < count; ++i) {
            const CProcessInfo& record = list.m_processes[static_cast<INT_PTR>(from + i)];
            EXPECT_EQ("", FirstDifference(record.m_processEntry, entries[firstEntry + i]))
                << "record " << from + i << " expected byte for byte entry " << firstEntry + i
                << " as Process32First/Next returned it";
            EXPECT_EQ(296u, record.m_processEntry.dwSize) << "record " << from + i << ": expected dwSize 296";
            EXPECT_EQ(0, record.m_threads.GetSize()) << "record " << from + i << ": expected no thread records";
        }
    }
};

// --- failures at the start -------------------------------------------------------------------

TEST_F(ProcessListTest, ASnapshotThatCannotStartLeavesTheListAsItWas)
{
    // The first snapshot works; then the list that holds it and a fresh one are each asked
    // for a snapshot that fails.
    struct Case {
        const char* failing;
        int closesExpected;                  // CloseHandle calls made by one failing Snapshot
        std::vector<std::string> closes;     // every CloseHandle call of the case
    } cases[] = {
        // There is no handle to close, and INVALID_HANDLE_VALUE is not one.
        {"CreateToolhelp32Snapshot", 0, {"CloseHandle(snapshot 1)"}},
        {"Process32First", 1, {"CloseHandle(snapshot 1)", "CloseHandle(snapshot 2)", "CloseHandle(snapshot 3)"}},
    };
    for (const Case& c : cases) {
        ScopedSim s;
        s.AddProcess("explorer.exe", SimProgram().RunsForever());
        s.AddProcess("setup.exe", SimProgram().RunsForever());
        {
            CProcessList filled;
            ASSERT_TRUE(filled.Snapshot()) << c.failing << ": the first snapshot was expected to work";
            std::vector<PROCESSENTRY32> before;
            for (INT_PTR i = 0; i < filled.m_processes.GetSize(); ++i)
                before.push_back(filled.m_processes[i].m_processEntry);

            s.Fail(c.failing);
            const int closesBefore = s.Count("CloseHandle");
            EXPECT_FALSE(filled.Snapshot()) << c.failing << " failing: expected false";
            EXPECT_EQ(c.closesExpected, s.Count("CloseHandle") - closesBefore)
                << c.failing << " failing: expected that many CloseHandle calls\n" << s.LogText();
            ASSERT_EQ(2, filled.m_processes.GetSize()) << c.failing << ": expected the two records to stay";
            EXPECT_EQ(2, filled.m_nCount) << c.failing << ": expected m_nCount unchanged";
            for (size_t i = 0; i < before.size(); ++i)
                EXPECT_EQ("", FirstDifference(filled.m_processes[static_cast<INT_PTR>(i)].m_processEntry, before[i]))
                    << c.failing << ": expected record " << i << " unchanged";

            CProcessList fresh;
            EXPECT_FALSE(fresh.Snapshot()) << c.failing << " failing: expected false on a fresh list";
            EXPECT_EQ(0, fresh.m_processes.GetSize()) << c.failing << ": expected a fresh list to stay empty";
            EXPECT_EQ(0, fresh.m_nCount) << c.failing << ": expected m_nCount 0";
            EXPECT_EQ(0, s.OpenSnapshotHandles()) << c.failing << ": expected no snapshot handle left open";
            EXPECT_EQ(c.closes, s.Calls("CloseHandle"))
                << c.failing << " failing: expected each snapshot handle obtained closed once, and nothing else";
        }
    }
}

// --- enumeration -----------------------------------------------------------------------------

TEST_F(ProcessListTest, EveryEntryBecomesARecordInTheOrderListed)
{
    // 40 entries make the array grow several times, moving the records already held.
    for (int n : {1, 2, 5, 40}) {
        ScopedSim s;
        for (int i = 0; i < n; ++i)
            s.AddProcess(NameFor(i), SimProgram().RunsForever());
        {
            CProcessList list;
            EXPECT_TRUE(list.Snapshot()) << n << " processes: expected true";
            ASSERT_EQ(static_cast<size_t>(n), s.EntriesReturned().size())
                << n << " processes: expected the whole snapshot read\n" << s.LogText();
            ASSERT_EQ(n, list.m_processes.GetSize()) << "expected one record per process";
            EXPECT_EQ(n, list.m_nCount) << "expected m_nCount equal to the records written";
            const std::vector<PROCESSENTRY32>& entries = s.EntriesReturned();
            for (int i = 0; i < n; ++i) {
                const CProcessInfo& record = list.m_processes[i];
                EXPECT_EQ("", FirstDifference(record.m_processEntry, entries[i]))
                    << n << " processes: record " << i << " expected byte for byte the entry returned";
                EXPECT_EQ(296u, record.m_processEntry.dwSize) << "record " << i << ": expected dwSize 296";
                EXPECT_STREQ(NameFor(i).c_str(), record.m_processEntry.szExeFile) << "record " << i;
                EXPECT_EQ(0, record.m_threads.GetSize()) << "record " << i << ": expected no thread records";
            }
            EXPECT_EQ("CreateToolhelp32Snapshot(0x2, 0)", s.Calls("CreateToolhelp32Snapshot").at(0))
                << "expected a process snapshot of the whole system";
            for (const std::string& call : s.Calls("Process32First"))
                EXPECT_EQ("Process32First(snapshot 1, dwSize=296)", call) << "expected dwSize 296 set";
            EXPECT_EQ(n, s.Count("Process32Next")) << "expected Process32Next called until it reported the end";
            EXPECT_EQ(0, s.OpenSnapshotHandles()) << "expected the snapshot handle closed";
            EXPECT_EQ(std::vector<std::string>{"CloseHandle(snapshot 1)"}, s.Calls("CloseHandle"))
                << "expected exactly the snapshot's handle closed, once";
        }
    }
}

TEST_F(ProcessListTest, ASecondSnapshotAppendsAfterTheFirst)
{
    AddProcesses(3);
    CProcessList list;
    ASSERT_TRUE(list.Snapshot()) << "expected the first snapshot to work";
    sim.EndProcess(sim.ProcessIds()[1]);
    sim.AddProcess("_ISDEL.EXE", SimProgram().RunsForever());
    sim.AddProcess("notepad.exe", SimProgram().RunsForever());
    ASSERT_TRUE(list.Snapshot()) << "expected the second snapshot to work";

    ASSERT_EQ(7u, sim.EntriesReturned().size()) << "expected 3 then 4 entries read\n" << sim.LogText();
    ASSERT_EQ(7, list.m_processes.GetSize()) << "expected 3 + 4 records: the list is not cleared first";
    EXPECT_EQ(7, list.m_nCount) << "expected m_nCount the sum of both calls";
    ExpectRecordsAreEntries(list, 0, 7, 0);
    EXPECT_STREQ(NameFor(2).c_str(), list.m_processes[2].m_processEntry.szExeFile)
        << "expected the first call's records first";
    EXPECT_STREQ("notepad.exe", list.m_processes[6].m_processEntry.szExeFile)
        << "expected the second call's records after them";
    EXPECT_EQ(0, sim.OpenSnapshotHandles()) << "expected both snapshot handles closed";
}

TEST_F(ProcessListTest, Process32NextFailingMidwayKeepsWhatWasRead)
{
    struct Case { int failingNext; int recordsKept; } cases[] = {{1, 1}, {2, 2}, {4, 4}};
    for (const Case& c : cases) {
        ScopedSim s;
        for (int i = 0; i < 6; ++i)
            s.AddProcess(NameFor(i), SimProgram().RunsForever());
        s.Fail("Process32Next").Nth(c.failingNext).Error(ERROR_GEN_FAILURE);
        {
            CProcessList list;
            EXPECT_TRUE(list.Snapshot()) << "Process32Next #" << c.failingNext
                                         << " failing: expected true, the enumeration had started";
            ASSERT_EQ(c.recordsKept, list.m_processes.GetSize())
                << "Process32Next #" << c.failingNext << " failing: expected the records read before it";
            EXPECT_EQ(c.recordsKept, list.m_nCount) << "expected m_nCount equal to the records";
            const std::vector<PROCESSENTRY32>& entries = s.EntriesReturned();
            for (int i = 0; i < c.recordsKept; ++i)
                EXPECT_EQ("", FirstDifference(list.m_processes[i].m_processEntry, entries[i]))
                    << "record " << i << " expected byte for byte the entry returned";
            EXPECT_EQ(c.failingNext, s.Count("Process32Next")) << "expected no call after the failure";
            EXPECT_EQ(0, s.OpenSnapshotHandles()) << "expected the snapshot handle closed";
        }
    }
}

// --- memory ----------------------------------------------------------------------------------

TEST_F(ProcessListTest, ExhaustedMemoryPassesOutAndKeepsEarlierRecords)
{
    const int kProcesses = 40;
    for (int budget : {0, 1, 2, 5}) {
        ScopedSim s;
        for (int i = 0; i < kProcesses; ++i)
            s.AddProcess(NameFor(i), SimProgram().RunsForever());
        const size_t blocksAtStart = s.LiveBlocks();
        {
            CProcessList list;
            s.FailAllocationsAfter(budget);
            bool thrown = false;
            try {
                list.Snapshot();
            } catch (CMemoryException* e) {
                thrown = true;
                e->Delete();
            }
            s.FailAllocationsAfter(-1);
            EXPECT_TRUE(thrown) << budget << " allocations allowed: expected CMemoryException* out of Snapshot";
            const INT_PTR kept = list.m_processes.GetSize();
            EXPECT_LT(kept, kProcesses) << budget << " allocations: expected the append to fail before the end";
            EXPECT_EQ(kept, list.m_nCount) << budget << " allocations: expected m_nCount equal to the records kept";
            ASSERT_EQ(static_cast<size_t>(kept) + 1, s.EntriesReturned().size())
                << budget << " allocations: expected every entry read but the last to be kept";
            for (INT_PTR i = 0; i < kept; ++i)
                EXPECT_EQ("", FirstDifference(list.m_processes[i].m_processEntry, s.EntriesReturned()[i]))
                    << budget << " allocations: record " << i << " expected intact";
            EXPECT_EQ(0, s.OpenSnapshotHandles())
                << budget << " allocations: expected the snapshot handle closed on the way out\n" << s.LogText();
            EXPECT_EQ(1, s.Count("CloseHandle")) << "expected the snapshot handle closed once";
            // The list still works after the failure.
            EXPECT_TRUE(list.Snapshot()) << budget << " allocations: expected a later snapshot to work";
            EXPECT_EQ(kept + kProcesses, list.m_processes.GetSize()) << "expected the later snapshot appended";
            EXPECT_EQ(kept + kProcesses, list.m_nCount);
        }
        EXPECT_EQ(blocksAtStart, s.LiveBlocks()) << budget << " allocations: expected nothing leaked";
    }
}

// --- record copies ---------------------------------------------------------------------------

TEST_F(ProcessListTest, CopyingARecordIsDeep)
{
    for (int k : {0, 1, 6}) {
        const size_t blocksAtStart = sim.LiveBlocks();
        auto source = std::make_unique<CProcessInfo>();
        MakeInfo(*source, 10u + k, k);
        auto copy = std::make_unique<CProcessInfo>(*source);
        ExpectInfo(*copy, 10u + k, k, std::to_string(k) + " threads, copy");
        if (k > 0) {
            EXPECT_NE(source->m_threads.GetData(), copy->m_threads.GetData())
                << k << " threads: expected the copy to own its own thread storage";
        }
        source.reset();
        ExpectInfo(*copy, 10u + k, k, std::to_string(k) + " threads, copy after the source was destroyed");
        copy.reset();
        EXPECT_EQ(blocksAtStart, sim.LiveBlocks()) << k << " threads: expected both records' storage freed";
    }
}

TEST_F(ProcessListTest, AssignmentLeavesExactlyTheSourcesThreads)
{
    struct Case { int targetThreads; int sourceThreads; } cases[] = {
        {5, 2}, {2, 5}, {3, 0}, {0, 3}, {4, 4}, {0, 0},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.sourceThreads) + " threads assigned over " +
                                 std::to_string(c.targetThreads);
        const size_t blocksAtStart = sim.LiveBlocks();
        auto source = std::make_unique<CProcessInfo>();
        auto target = std::make_unique<CProcessInfo>();
        MakeInfo(*source, 50, c.sourceThreads);
        MakeInfo(*target, 90, c.targetThreads);
        *target = *source;
        ExpectInfo(*target, 50, c.sourceThreads, what);
        ExpectInfo(*source, 50, c.sourceThreads, what + ", source");
        if (c.sourceThreads > 0) {
            EXPECT_NE(source->m_threads.GetData(), target->m_threads.GetData())
                << what << ": expected separate thread storage";
        }
        source.reset();
        ExpectInfo(*target, 50, c.sourceThreads, what + ", after the source was destroyed");
        target.reset();
        EXPECT_EQ(blocksAtStart, sim.LiveBlocks()) << what << ": expected nothing leaked";
    }
}

TEST_F(ProcessListTest, SelfAssignmentChangesNothing)
{
    for (int k : {0, 3}) {
        CProcessInfo info;
        MakeInfo(info, 70, k);
        const CThreadEntry* storage = info.m_threads.GetData();
        CProcessInfo& same = info;
        info = same;
        ExpectInfo(info, 70, k, std::to_string(k) + " threads, self-assigned");
        EXPECT_EQ(storage, info.m_threads.GetData()) << k << " threads: expected the same thread storage kept";
    }
}

// --- destruction -----------------------------------------------------------------------------

TEST_F(ProcessListTest, DestroyingAListFreesEverything)
{
    AddProcesses(9);
    const size_t blocksAtStart = sim.LiveBlocks();
    {
        CProcessList list;
        ASSERT_TRUE(list.Snapshot()) << "expected the snapshot to work";
        ASSERT_TRUE(list.Snapshot()) << "expected the second snapshot to work";
        // Records with thread lists of their own, to be destroyed with the list.
        for (INT_PTR i = 0; i < list.m_processes.GetSize(); i += 3)
            list.m_processes[i].m_threads.SetSize(1 + i % 4);
        EXPECT_LT(blocksAtStart, sim.LiveBlocks()) << "expected the list to hold storage";
    }
    EXPECT_EQ(blocksAtStart, sim.LiveBlocks()) << "expected every record and thread list freed with the list";
    EXPECT_EQ(0, sim.OpenSnapshotHandles()) << "expected no snapshot handle left";
}

}  // namespace
