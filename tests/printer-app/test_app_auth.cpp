// The parsing behind the access rules: the Basic login header, and the job
// attributes withheld from other users; and the page count of a client's PDF.
#include "AppAuth.h"
#include "AppSystem.h"
#include "IppNesting.h"
#include "RequestRewrites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

TEST(AppAuth, ParsesBasicLoginsOnly)
{
    std::string user, password;
    // "alice:pa:ss" in base64.
    ASSERT_TRUE(ParseBasicAuthorization("Basic YWxpY2U6cGE6c3M=", &user, &password));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "pa:ss");
    EXPECT_FALSE(ParseBasicAuthorization("Negotiate YWxpY2U6cGFzcw==", &user, &password));
    EXPECT_FALSE(ParseBasicAuthorization("Basic", &user, &password));
    EXPECT_FALSE(ParseBasicAuthorization("Basic bm9jb2xvbg==", &user, &password));  // "nocolon"
    EXPECT_FALSE(ParseBasicAuthorization("Basic OnB3", &user, &password));          // ":pw", no user
    EXPECT_FALSE(ParseBasicAuthorization(("Basic " + std::string(2000, 'A')).c_str(), &user, &password));
}

TEST(PdfInfoPageCount, TakesTheReportsOwnLineWithinTheLimit)
{
    auto count = [](const std::string& report) { return PdfInfoPageCount(report.data(), report.size(), 500); };
    // The document's title may pretend a count; pdfinfo's own line comes last.
    EXPECT_EQ(count("Title:          x\nPages: 900\nCreator:        gs\nPages:           3\nEncrypted:      no\n"), 3);
    EXPECT_EQ(count("Pages:           12\r\n"), 12);
    EXPECT_EQ(count("Pages:           500"), 500);
    EXPECT_EQ(count("Pages:           501\n"), 0);
    EXPECT_EQ(count("Pages:           99999999999999999999\n"), 0);
    EXPECT_EQ(count("Pages:           0\n"), 0);
    EXPECT_EQ(count("Pages:           3x\n"), 0);
    EXPECT_EQ(count("Title: Pages: 4\nEncrypted: no\n"), 0);
    EXPECT_EQ(count(""), 0);
}

TEST(AppAuth, WithholdsTheJobsPrivateAttributes)
{
    static const char* const kVendor[] = {"overcoat-finish"};
    auto requested = [](const char* value) {
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        if (value != nullptr)
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, value);
        WithholdPrivateAttributes(request, kVendor, 1);
        ipp_attribute_t* attr = ippFindAttribute(request, "requested-attributes", IPP_TAG_KEYWORD);
        std::string names = ",";
        for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i)
            names += std::string(ippGetString(attr, i, nullptr)) + ",";
        ippDelete(request);
        return names;
    };
    for (const char* value : {static_cast<const char*>(nullptr), "all", "job-description"}) {
        const std::string names = requested(value);
        EXPECT_EQ(names.find(",job-name,"), std::string::npos) << names;
        EXPECT_EQ(names.find(",job-originating-user-name,"), std::string::npos) << names;
        EXPECT_NE(names.find(",job-state,"), std::string::npos) << names;
    }
    EXPECT_NE(requested("all").find(",overcoat-finish,"), std::string::npos);
    EXPECT_EQ(requested("job-name"), ",job-id,");

    // A second requested-attributes (the first a decoy) is not left for
    // PAPPL to take once the first is replaced.
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_NAME, "requested-attributes", nullptr, "job-name");
    WithholdPrivateAttributes(request, kVendor, 1);
    int count = 0;
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
        if (ippGetName(attr) != nullptr && std::strcmp(ippGetName(attr), "requested-attributes") == 0) {
            ++count;
            EXPECT_STREQ(ippGetString(attr, 0, nullptr), "job-id");
            EXPECT_EQ(ippGetCount(attr), 1);
        }
    }
    EXPECT_EQ(count, 1);
    ippDelete(request);
}

// The nesting bound follows a message however its bytes are split into
// reads: names and values (which may hold any byte) are skipped, not read
// as tags; an end of attributes inside a collection closes that collection
// as libcups takes it; an extension tag is refused outright.
TEST(IppNestingGauge, FollowsTheReadersView)
{
    auto attribute = [](int tag, const std::string& name, const std::string& value) {
        std::string bytes(1, static_cast<char>(tag));
        bytes += std::string{static_cast<char>(name.size() >> 8), static_cast<char>(name.size() & 0xff)} + name;
        return bytes + std::string{static_cast<char>(value.size() >> 8), static_cast<char>(value.size() & 0xff)} + value;
    };
    const std::string header("\x02\x00\x00\x0b\x00\x00\x00\x01\x01", 9);
    // A value full of begin-collection bytes, then media-col nested 2 deep.
    std::string message = header + attribute(0x44, "x", std::string(300, '\x34')) + attribute(0x34, "media-col", "") +
                          attribute(0x4a, "", "media-size") + attribute(0x34, "", "") +
                          attribute(0x21, "", std::string("\0\0\x27\x10", 4)) + attribute(0x37, "", "") +
                          attribute(0x37, "", "") + "\x03";
    for (size_t split : {size_t{1}, size_t{3}, message.size()}) {
        IppNestingGauge gauge(true, 2);
        int deepest = 0;
        for (size_t at = 0; at < message.size(); at += split) {
            ASSERT_TRUE(gauge.Take(reinterpret_cast<const unsigned char*>(message.data()) + at,
                                   std::min(split, message.size() - at)))
                << split;
            deepest = std::max(deepest, gauge.depth());
        }
        EXPECT_TRUE(gauge.finished());
        if (split < message.size()) {
            EXPECT_EQ(deepest, 2) << split;
        }
    }
    auto refused = [&](const std::string& bytes, int limit) {
        IppNestingGauge gauge(true, limit);
        return !gauge.Take(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    };
    EXPECT_TRUE(refused(message, 1));
    // An end of attributes closes one collection only: the next one opens
    // at depth 2 again.
    const std::string reopened = header + attribute(0x34, "a", "") + attribute(0x4a, "", "b") + attribute(0x34, "", "") +
                                 "\x03" + attribute(0x4a, "", "c") + attribute(0x34, "", "") + attribute(0x37, "", "");
    EXPECT_FALSE(refused(reopened, 2));
    EXPECT_TRUE(refused(reopened + attribute(0x4a, "", "d") + attribute(0x34, "", "") + attribute(0x4a, "", "e") +
                            attribute(0x34, "", ""),
                        2));
    EXPECT_TRUE(refused(header + std::string("\x7f\x00\x00\x00\x34", 5), 10));
}

// Printer subscriptions of others than administrators lose the events that
// carry job names and owners, in every subscription group of the request.
// Every value of every name a client sends is scrubbed, whatever its tag.
TEST(AppAuth, ScrubsEveryNameValue)
{
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requesting-user-name", nullptr, "alice");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "<b>al'ice</b>");
    static const char* const kNames[] = {"ok", "a&b", "\"q\""};
    ippAddStrings(request, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", 3, nullptr, kNames);
    ScrubNames(request);
    std::string all;
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
        for (int i = 0; i < ippGetCount(attr); ++i)
            all += std::string(ippGetName(attr)) + "=" + ippGetString(attr, i, nullptr) + ";";
    }
    EXPECT_NE(all.find("requesting-user-name=_b_al_ice_/b_;"), std::string::npos) << all;
    EXPECT_NE(all.find("job-name=ok;job-name=a_b;job-name=_q_;"), std::string::npos) << all;
    ippDelete(request);
}

// Who subscribed is left out of a subscription listing, whatever was asked.
TEST(AppAuth, WithholdsTheSubscriber)
{
    auto requested = [](std::vector<const char*> values) {
        ipp_t* request = ippNewRequest(IPP_OP_GET_SUBSCRIPTIONS);
        for (const char* value : values)
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, value);
        WithholdSubscriberNames(request);
        std::string names = ",";
        int count = 0;
        for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
            if (std::strcmp(ippGetName(attr), "requested-attributes") != 0)
                continue;
            ++count;
            for (int i = 0; i < ippGetCount(attr); ++i)
                names += std::string(ippGetString(attr, i, nullptr)) + ",";
        }
        ippDelete(request);
        return count == 1 ? names : "several";
    };
    for (const std::vector<const char*>& values : std::vector<std::vector<const char*>>{
             {}, {"all"}, {"notify-subscriber-user-name"}, {"notify-events", "all"}}) {
        const std::string names = requested(values);
        EXPECT_EQ(names.find("notify-subscriber-user-name"), std::string::npos) << names;
        EXPECT_NE(names, "several");
    }
    EXPECT_NE(requested({}).find(",notify-events,"), std::string::npos);
    EXPECT_EQ(requested({"notify-subscriber-user-name"}), ",notify-subscription-id,");
}

TEST(AppAuth, DropsJobEventsOfSubscriptions)
{
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS);
    static const char* const kMixed[] = {"job-created", "printer-state-changed", "job-completed", "printer-config-changed"};
    static const char* const kJobsOnly[] = {"job-state-changed", "document-created"};
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", 4, nullptr, kMixed);
    ippAddSeparator(request);
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", 2, nullptr, kJobsOnly);
    DropJobEvents(request);
    std::vector<std::string> lists;
    int pullMethods = 0;
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
        const char* name = ippGetName(attr);
        if (name != nullptr && std::strcmp(name, "notify-pull-method") == 0)
            ++pullMethods;
        if (name == nullptr || std::strcmp(name, "notify-events") != 0)
            continue;
        std::string list;
        for (int i = 0; i < ippGetCount(attr); ++i)
            list += std::string(ippGetString(attr, i, nullptr)) + ",";
        lists.push_back(list);
    }
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0], "printer-state-changed,printer-config-changed,");
    EXPECT_EQ(pullMethods, 2);
    ippDelete(request);
}

}  // namespace

// Root's commands (sudo vantora-rt50-printer-app pause ...) use the
// service's folder, where its control socket is; a folder root does not
// own, or a SNAP_COMMON already set, leave things as they are.
TEST(ServiceStateFolder, RootsCommandsFindTheService)
{
    if (getuid() != 0)
        GTEST_SKIP() << "only root's commands use the service's folder";
    char folder[] = "/tmp/svc.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    unsetenv("SNAP_COMMON");
    ASSERT_EQ(chown(folder, 1, 1), 0);
    EXPECT_FALSE(UseServiceStateFolder(folder));
    ASSERT_EQ(chown(folder, 0, 0), 0);
    EXPECT_TRUE(UseServiceStateFolder(folder));
    EXPECT_EQ(StateFilePath(), std::string(folder) + "/vantora-rt50-printer-app.state");
    setenv("SNAP_COMMON", "/elsewhere", 1);
    EXPECT_FALSE(UseServiceStateFolder(folder));
    unsetenv("SNAP_COMMON");
    rmdir(folder);
}
