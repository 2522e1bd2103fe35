// Read-only attachment of a test to the terrain record.
// Threading: one thread.
#include "tests/support/TrnReader.h"

#include <cstdio>
#include <cstring>

#include "platform/shared_memory.h"

CTrnReader::CTrnReader(const char* name) : m_pData(nullptr), m_mapped(false) {
  SetName(name);
  m_size = trn::kRecordSize;
}

CTrnReader::~CTrnReader() {
  if (m_mapped) {
    Close();
  }
}

bool CTrnReader::Attach(char* why, int whySize) {
  const std::size_t size = static_cast<std::size_t>(whySize);
  if (!platform::ShmExists(m_name)) {
    std::snprintf(why, size, "no shared memory \"%s\": start orogrid or orogrid-sim first", m_name);
    return false;
  }
  if (!OpenAndMap()) {
    std::snprintf(why, size, "cannot map shared memory \"%s\": %s", m_name, GetErrorText());
    return false;
  }
  m_mapped = true;
  // The version text up to its first NUL, at most 64 characters.
  char version[trn::kInterfaceVersionBytes + 1];
  std::memcpy(version, GetView(), trn::kInterfaceVersionBytes);
  version[trn::kInterfaceVersionBytes] = '\0';
  if (std::strcmp(version, InterfaceVersionText) != 0) {
    std::snprintf(why, size,
                  "shared memory \"%s\": Shared Memory Version Mismatch (found \"%.64s\")", m_name,
                  version);
    return false;
  }
  m_pData = static_cast<const TrnShmData*>(GetView());
  return true;
}
