// Revision registry: forwards each string to the open report, if any.
//
// Threading: one thread (the one constructing components).
#include "registry/RevisionRegistry.h"

namespace {
RevisionRowWriter g_rowWriter = nullptr;
}  // namespace

void RegisterRevision(const char* revision) {
  if (g_rowWriter != nullptr && revision != nullptr) {
    g_rowWriter(revision);
  }
}

void BeginComponent(const char* /*section*/) {}

void EndComponent() {}

void SetRevisionRowWriter(RevisionRowWriter writer) { g_rowWriter = writer; }
