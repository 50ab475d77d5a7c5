#include "update/update_manifest.h"
#include "update/update_steps.h"

#include <gtest/gtest.h>

namespace mistvale {

TEST(UpdateSteps, SavedAndRunFileNames) {
    UpdateFileEntry exe;
    exe.name = WideString(u"Mistvale.exe");
    EXPECT_EQ(UpdateSavedOldFile("/opt/mv/", exe), "/opt/mv/Mistvale_old.exe");
    UpdateFileEntry plain;
    plain.name = WideString(u"mistvale");
    EXPECT_EQ(UpdateSavedOldFile("/opt/mv", plain), "/opt/mv/mistvale_old");

    UpdateFileEntry run;
    run.url = WideString(u"https://h/dl/get.php?file=tools/setup.deb");
    EXPECT_EQ(UpdateRunFileName(run), "setup.deb");
    run.url = WideString(u"https://h/dl/mistvale-setup.deb");
    EXPECT_EQ(UpdateRunFileName(run), "mistvale-setup.deb");
    run.zip = WideString(u"tools.zip");
    EXPECT_EQ(UpdateRunFileName(run), "tools.zip");
    run.zip = WideString();
    run.url = WideString(u"https://h/get?file=..");
    EXPECT_EQ(UpdateRunFileName(run), ""); // never a path out of the temporary folder
}

} // namespace mistvale
