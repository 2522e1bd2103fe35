// The platform-neutral part of COutputFile (output_file.h): buffering, line
// ends, the sticky first failure and the test seam. Opening, system writes
// and committing are in posix/ and win32/.
//
// Threading: see output_file.h.
#include "platform/output_file.h"

#include <cstdio>
#include <cstring>

#include "platform/output_file_internal.h"
#include "platform/system_error.h"

namespace platform {
namespace {

int g_writeFailure = 0;
std::uint64_t g_writeFailureAfter = 0;  // bytes still accepted before it

}  // namespace

void SetOutputWriteFailure(int code, std::uint64_t afterBytes) {
  g_writeFailure = code;
  g_writeFailureAfter = afterBytes;
}

COutputFile::~COutputFile() { Abandon(); }

void COutputFile::ClearError() {
  m_bFailed = false;
  m_nError = 0;
  m_szError[0] = '\0';
}

bool COutputFile::BeginOpen(const char* path, Mode mode, int missingCode, int tooLongCode) {
  Abandon();
  ClearError();
  m_mode = mode;
  m_bReplacing = false;
  m_nBuffered = 0;
  m_szTemp[0] = '\0';
  if (path == nullptr || path[0] == '\0') {
    return Fail(missingCode);
  }
  if (std::strlen(path) > static_cast<std::size_t>(kPathMax)) {
    return Fail(tooLongCode);
  }
  return true;
}

bool COutputFile::Fail(int code) {
  char text[kErrorTextSize];
  SystemErrorText(code, text, sizeof text);
  return FailWithText(code, text);
}

bool COutputFile::FailWithText(int code, const char* text) {
  if (!m_bFailed) {
    m_bFailed = true;
    m_nError = code;
    std::snprintf(m_szError, sizeof m_szError, "%s", text);
  }
  return false;
}

bool COutputFile::Write(const void* data, std::size_t size) {
  if (!IsOpen() || m_bFailed) {
    return false;
  }
  if (g_writeFailure != 0) {
    if (size > g_writeFailureAfter) {
      const auto accepted = static_cast<std::size_t>(g_writeFailureAfter);
      g_writeFailureAfter = 0;
      // The bytes before the failure reach the file, as on a disk that fills.
      if (accepted > 0 && Gather(static_cast<const char*>(data), accepted)) {
        Flush();
      }
      return Fail(g_writeFailure);
    }
    g_writeFailureAfter -= size;
  }
  return Gather(static_cast<const char*>(data), size);
}

bool COutputFile::Gather(const char* bytes, std::size_t size) {
  if (m_mode == Mode::kBinary || !detail::OutputLineEndIsCrLf()) {
    // Large writes (map bands) go straight to the system, small ones fill
    // the buffer first.
    if (m_nBuffered + size > sizeof m_buffer) {
      if (!Flush()) {
        return false;
      }
      if (size >= sizeof m_buffer) {
        return WriteOut(bytes, size);
      }
    }
    std::memcpy(m_buffer + m_nBuffered, bytes, size);
    m_nBuffered += size;
    return true;
  }
  for (std::size_t i = 0; i < size; ++i) {
    // Room for a CR LF pair.
    if (m_nBuffered + 2 > sizeof m_buffer && !Flush()) {
      return false;
    }
    if (bytes[i] == '\n') {
      m_buffer[m_nBuffered++] = '\r';
    }
    m_buffer[m_nBuffered++] = bytes[i];
  }
  return true;
}

bool COutputFile::WriteText(const char* text) {
  return text != nullptr && Write(text, std::strlen(text));
}

bool COutputFile::Flush() {
  if (m_nBuffered == 0) {
    return true;
  }
  const std::size_t size = m_nBuffered;
  m_nBuffered = 0;
  return WriteOut(m_buffer, size);
}

}  // namespace platform
