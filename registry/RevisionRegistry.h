// Revision registry: the three calls through which every component hands its
// revision strings to configuration control. Registering means writing one
// row of the configuration report; while no report is open a registration
// leaves no trace and nothing is kept in memory.
//
// This library sits below every component (it needs nothing), so errors,
// text, shm and display can register without depending on the report writer;
// the report writer installs itself as the row writer while a report is open.
//
// Threading: registration runs on the thread that constructs components;
// nothing is locked.
#pragma once

// Hands one revision string to the open report's row writer.
void RegisterRevision(const char* revision);
// Mark the start and end of a component's strings; they write nothing and
// keep nothing.
void BeginComponent(const char* section);
void EndComponent();

// The report writer's row function, or null when no report is open.
using RevisionRowWriter = void (*)(const char* revision);
void SetRevisionRowWriter(RevisionRowWriter writer);
