// The page sizes and media sets: which set prints which page, and the
// names and texts the backend, the delivery layer, the daemon and the
// printer application show from them.
#include "MediaSets.h"

#include <gtest/gtest.h>

#include <string>

// Every MULTICUT code against every loaded media: the 4x6in set prints only
// the 4-inch-wide pages up to 6 inches; the 4.5x8in set prints all six;
// unknown media and unknown codes are left to the printer.
TEST(MediaSets, WhichSetPrintsWhichPage)
{
    for (int multicut = 47; multicut <= 52; ++multicut) {
        SCOPED_TRACE(multicut);
        EXPECT_EQ(MediaPrintsSheet(150, multicut), multicut == 47 || multicut == 48);
        EXPECT_TRUE(MediaPrintsSheet(161, multicut));
        EXPECT_TRUE(MediaPrintsSheet(-1, multicut));
        EXPECT_TRUE(MediaPrintsSheet(151, multicut));
    }
    EXPECT_TRUE(MediaPrintsSheet(150, 53));
    EXPECT_TRUE(MediaPrintsSheet(150, 0));

    EXPECT_STREQ(MediaNeededFor(47), "4x6in media (code 150) or 4.5x8in media (code 161)");
    EXPECT_STREQ(MediaNeededFor(48), "4x6in media (code 150) or 4.5x8in media (code 161)");
    for (int multicut : {49, 50, 51, 52, 0, 99})
        EXPECT_STREQ(MediaNeededFor(multicut), "4.5x8in media (code 161)") << multicut;
}

// A set's names, and the page each set is cut for: the daemon's classes,
// the backend's messages and the application's ready media read them.
TEST(MediaSets, NamesAndReadyPageOfEachCode)
{
    EXPECT_STREQ(MediaSetName(150), "4x6in");
    EXPECT_STREQ(MediaSetName(161), "4.5x8in");
    EXPECT_EQ(MediaSetName(-1), nullptr);
    EXPECT_EQ(MediaSetName(0), nullptr);
    EXPECT_STREQ(MediaSetText(150), "4x6in media (code 150)");
    EXPECT_STREQ(MediaSetText(161), "4.5x8in media (code 161)");
    EXPECT_STREQ(MediaSetText(-1), "unknown media");
    EXPECT_STREQ(MediaSetText(1500), "unknown media");
    EXPECT_STREQ(ReadyPageSizeOf(150), "102x153mm");
    EXPECT_STREQ(ReadyPageSizeOf(161), "115x204mm");
    EXPECT_EQ(ReadyPageSizeOf(-1), nullptr);

    // The page sizes and their codes go both ways, and only for the six.
    const char* names[] = {"102x102mm", "102x153mm", "102x204mm", "115x115mm", "115x153mm", "115x204mm"};
    for (int multicut = 47; multicut <= 52; ++multicut) {
        EXPECT_STREQ(PageSizeOfMulticut(multicut), names[multicut - 47]);
        EXPECT_EQ(MulticutOfPageSize(names[multicut - 47]), multicut);
    }
    EXPECT_STREQ(PageSizeOfMulticut(46), "?");
    EXPECT_EQ(FindPageSize(53), nullptr);
    EXPECT_EQ(MulticutOfPageSize("102x153"), 0);
    EXPECT_EQ(MulticutOfPageSize(nullptr), 0);
}
