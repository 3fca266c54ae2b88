#include "process/pipe_stream.h"

TPipeStream::~TPipeStream() { FileCloseHandle(Handle); }

int64_t TPipeStream::Seek(int64_t, TSeekOrigin) { return -1; }

bool TPipeStream::SetSize(int64_t) { return false; }
