// Application framework: what the shared part and the platform parts of the
// framework tell each other. Not for use outside platform/.
//
// Threading: the user-interface thread only.
#pragma once

#include "platform/app_framework.h"

namespace platform {

const ResourceTable* CurrentResourceTable();
const DialogResource* FindDialogResource(int templateId);
const char* FindStringResource(int id);
const int* FindIconResource(int id);
bool TimerStartAllowed(unsigned id, unsigned periodMs);
void CopyControlText(char* dst, const char* src, int size);
// Adds a separator (commandId 0 and an empty text) or an item to the
// system's menu. Platform part.
bool PlatformAppendMenu(void* hMenu, unsigned commandId, const char* text);
// Around one data exchange, so a host can show all its changes at once.
void PlatformBeginUpdate(CDialog* dialog);
void PlatformEndUpdate(CDialog* dialog);

}  // namespace platform
