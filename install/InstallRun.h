// The install run: the steps that the confirmation dialog's "&Yes" starts, and what they share.
#pragma once

#include "platform/afx.h"

class CProcessList;

// The run happens at most once per process.
extern BYTE g_bInstallStarted;
// Drives the scans of the setup-engine wait: set at the start of a scan, cleared by a match.
extern BYTE g_bEngineGone;

const size_t PATH_BUFFER_SIZE = 1024;      // szPath and szSetupPath
const UINT WINDOWS_DIR_LIMIT = 1000;       // leaves room for "\TEMP\ZARPO\SETUP.EXE"
const ULONGLONG MIN_FREE_BYTES = 3000000;  // decimal bytes on the Windows directory's drive

const int PAYLOAD_COUNT = 15;
const int PAYLOAD_FIRST_ID = 197;
// The package's file names; entry i is written from the "Binary" resource PAYLOAD_FIRST_ID + i.
extern const char* const g_payloadFiles[PAYLOAD_COUNT];

const DWORD IDLE_WAIT_MS = 1000;           // the longest time between two looks at a process
const DWORD ENGINE_RESCAN_PAUSE_MS = 100;  // pace of scans that found nothing to wait on
const int MAX_NAMELESS_RESCANS = 10;       // rescans for a process caught mid-creation

// Each step returns TRUE to go on, or FALSE after it has shown its own message.
BOOL CheckEnvironment(char* szPath, BYTE& bManualExit);
BOOL EnterStagingDirectory(char* szPath);
BOOL ExtractPayload();
void RunSetupAndWait(const char* szPath, BYTE bManualExit);
void RemoveStagedFiles(const char* szPath);

// Watches a process until it is no longer active. TRUE when it was active and was seen to
// end; FALSE when it had already ended or the wait failed with nothing left to wait on.
BOOL WaitWhileRunning(HANDLE hProcess);
// Scans the process list until no setup-engine process is left.
void WaitForSetupEngine();
// One pass over one snapshot for one name pattern. TRUE when a matching process could not be
// waited on, so that the next scan must be paced.
BOOL WaitForNamedProcesses(CProcessList& list, LPCSTR pattern);
