#include "driver/CommandLine.h"
#include "support/TestSupport.h"

TEST(CommandLine, SplitsAsAShellDoesWithoutExpandingAnything)
{
    struct Case
    {
        const char* line;
        QStringList words;
    };
    const Case cases[] = {
        {"", {}},
        {" \t ", {}},
        {"python3  drv.py\t--port 1", {"python3", "drv.py", "--port", "1"}},
        {"\"two words\" 'single quoted'", {"two words", "single quoted"}},
        {"'/opt/my shop/drv' x", {"/opt/my shop/drv", "x"}},
        {"/opt/my\\ shop/drv", {"/opt/my shop/drv"}},
        {"\"esc \\\"q\\\" x\"", {"esc \"q\" x"}},
        {"\"a\\\\b \\$HOME \\n\"", {"a\\b $HOME \\n"}}, // other backslashes stay in "..."
        {"'it''s' 'a\\b' \"'\"", {"its", "a\\b", "'"}},
        {"a\\\"b c\\\\d \\x", {"a\"b", "c\\d", "x"}},
        {"'' \"\" x '' ", {"", "", "x", ""}},
        {"pre\"mid dle\"'post' $HOME ~ *|>", {"premid dlepost", "$HOME", "~", "*|>"}},
        {"caffè '€ “q”'", {"caffè", "€ “q”"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        QString error;
        EXPECT_EQ(splitCommandLine(QString::fromUtf8(c.line), &error), c.words);
        EXPECT_EQ(error, QString());
    }
}

TEST(CommandLine, RefusesWhatAShellWouldNotFinish)
{
    for (const char* line : {"drv 'open", "drv \"open", "drv \"a\\\"", "drv \\"}) {
        SCOPED_TRACE(line);
        QString error;
        EXPECT_EQ(splitCommandLine(line, &error), std::nullopt);
        EXPECT_FALSE(error.isEmpty());
    }
}
