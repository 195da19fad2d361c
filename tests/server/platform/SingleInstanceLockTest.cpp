#include "server/platform/SingleInstanceLock.h"
#include "support/TestSupport.h"

TEST(SingleInstanceLock, OnlyALiveHolderKeepsAnotherStartOut)
{
    TempFolder program;
    // What a killed start may leave, or anyone may write: none of it stops a start.
    const QByteArray leftovers[] = {"", "12", "999999\nsomehost\nsomeapp\n",
                                    QByteArray("\0\0\0\0", 4)};
    for (const QByteArray& content : leftovers) {
        SCOPED_TRACE(content.toHex().toStdString());
        SingleInstanceLock first(program.path());
        writeBytes(first.path(), content);
        ASSERT_TRUE(first.tryLock());
        SingleInstanceLock second(program.path());
        EXPECT_FALSE(second.tryLock()); // a live holder, even in the same process
        TempFolder otherProgram;
        EXPECT_TRUE(SingleInstanceLock(otherProgram.path()).tryLock());
    }
    // Once the holder is gone the lock is free, and its file stays where it was.
    SingleInstanceLock again(program.path());
    EXPECT_TRUE(again.tryLock());
    EXPECT_TRUE(fileExists(again.path()));
}
