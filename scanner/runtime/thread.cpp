// Threads and the end of the process.
#include "scanner/runtime/internal.h"

uint32_t StartThread(RuntimeContext* ctx, HANDLE process, int suspended, PUSER_THREAD_START_ROUTINE proc,
                     void* parameter) {
  HANDLE thread = 0;
  CLIENT_ID id;
  memset(&id, 0, sizeof(id));
  NTSTATUS s = RtlCreateUserThread(process, nullptr, suspended ? 1 : 0, 0, 0, 0, proc, parameter, &thread, &id);
  if (s != STATUS_SUCCESS) return kInvalid32;
  // Nobody waits for the thread; closing the handle does not stop it.
  if (thread != 0) NtClose(thread);
  return 0;
}

void EndProcess(RuntimeContext* ctx, HANDLE process, uint32_t status) {
  NtTerminateProcess(process, (NTSTATUS)status);
}
