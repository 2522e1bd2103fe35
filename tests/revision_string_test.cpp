// Tests of the interface revision texts cut from the headers' strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/RevisionString.h"
#include "shm/TrnInterfaceShm.h"

TEST(RevisionString, InterfaceTexts) {
  EXPECT_STREQ(InterfaceVersionText, " TrnInterfaceShm $Revision: 1.1.0");
  EXPECT_EQ(std::strlen(InterfaceVersionText), 33u);
  EXPECT_STREQ(InterfaceRevisionText, "$Revision: 1.1.0");
  EXPECT_STREQ(GenericSimVersionText, " KT_P_0001_02_genericSim $Revision: 5.5.5");
  EXPECT_STREQ(GenericSimRevisionText, "$Revision: 5.5.5");
  // They point into the revision strings themselves.
  EXPECT_GE(InterfaceVersionText, trn::kInterfaceRevision);
  EXPECT_LT(InterfaceVersionText, trn::kInterfaceRevision + sizeof trn::kInterfaceRevision);
}

TEST(RevisionString, NotFoundGivesTheSearchedText) {
  const char code[] = "KT9999";
  EXPECT_EQ(RevisionIdentityText("%Z% A KT1 B $Revision: 1", code), code);
  EXPECT_STREQ(RevisionNumberText("no revision here"), " $Re");
  EXPECT_STREQ(RevisionNumberText(""), " $Re");
  // First occurrence wins.
  EXPECT_STREQ(RevisionIdentityText("x KT1 y KT1 z", "KT1"), " y KT1 z");
}

static_assert(RevisionNumberText(TRN_INTERFACE_SHM_REVISION)[0] == '$');
