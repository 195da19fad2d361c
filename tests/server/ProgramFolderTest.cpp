#include "server/ProgramFolder.h"
#include "support/TestSupport.h"

TEST(ProgramFolder, GivenThenInstalledThenBesideTheExecutable)
{
    using Reason = ProgramFolderChoice::Reason;
    struct Row
    {
        const char* given;
        const char* executableFolder;
        const char* folder;
        Reason reason;
    };
    const Row rows[] = {
        {"/srv/cassa1", "/usr/bin", "/srv/cassa1", Reason::Given},
        {"", "/usr/bin", "/home/u/.local/share/QuorinDriverServer", Reason::PerUser},
        {"", "/usr/local/bin", "/home/u/.local/share/QuorinDriverServer", Reason::PerUser},
        {"", "/bin", "/home/u/.local/share/QuorinDriverServer", Reason::PerUser},
        {"", "/opt/qds", "/opt/qds", Reason::BesideExecutable},
        {"", "/usrx/bin", "/usrx/bin", Reason::BesideExecutable},
        {"", "/home/u/qds", "/home/u/qds", Reason::BesideExecutable},
    };
    for (const Row& r : rows) {
        const auto choice = chooseProgramFolder(r.given, r.executableFolder,
                                                "/home/u/.local/share/QuorinDriverServer");
        EXPECT_EQ(choice.folder, r.folder) << r.executableFolder;
        EXPECT_EQ(choice.reason, r.reason) << r.executableFolder;
    }
}
