// The printer application's job order and page words, as pure decisions and
// against PAPPL's own texts: queued jobs go one at a time, oldest first; a
// job the loaded media cannot print lets later ones pass; the pages speak of
// ribbon and paper with one full stop to a sentence.
#include "JobQueue.h"
#include "MediaSets.h"
#include "PageWords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using State = QueueJob::State;

const int k4x6 = MulticutOfPageSize("102x153mm");
const int k4x8 = MulticutOfPageSize("102x204mm");

TEST(JobQueue, ReleasesTheOldestQueuedJobOneAtATime)
{
    // Received as 3, 4, 5 while 2 prints: 3 goes next, even before 2 ends.
    std::vector<QueueJob> jobs = {{5, State::kQueued, k4x6}, {2, State::kProcessing, k4x6},
                                  {3, State::kQueued, k4x6}, {4, State::kQueued, k4x6}};
    QueuePlan plan = PlanQueue(jobs, 150);
    EXPECT_EQ(plan.release, 3);
    EXPECT_TRUE(plan.holdBack.empty());
    EXPECT_TRUE(plan.needMedia.empty());

    // Once released it is pending: nothing more until PAPPL has started it.
    jobs[2].state = State::kPending;
    EXPECT_EQ(PlanQueue(jobs, 150).release, 0);

    // A job whose document is still coming is passed over, not waited for.
    jobs = {{6, State::kArriving, 0}, {7, State::kQueued, k4x6}};
    EXPECT_EQ(PlanQueue(jobs, 150).release, 7);
}

TEST(JobQueue, PendingJobsThatMustWaitAreQueuedAgain)
{
    // PAPPL would start the newest of them (a restart brings back several).
    std::vector<QueueJob> jobs = {{9, State::kPending, k4x6}, {6, State::kPending, k4x6},
                                  {7, State::kPending, k4x6}, {8, State::kQueued, k4x6}};
    QueuePlan plan = PlanQueue(jobs, 150);
    EXPECT_EQ(plan.holdBack, (std::vector<int>{7, 9}));
    EXPECT_EQ(plan.release, 0);

    // A job made pending before the queue held it waits for the older ones,
    // which go first.
    jobs = {{4, State::kQueued, k4x6}, {5, State::kPending, k4x6}};
    plan = PlanQueue(jobs, 150);
    EXPECT_EQ(plan.holdBack, (std::vector<int>{5}));
    EXPECT_EQ(plan.release, 4);

    // ... and for its media, letting later jobs pass; older jobs waiting
    // for media do not hold it.
    jobs = {{3, State::kQueued, k4x8}, {5, State::kPending, k4x8}, {6, State::kQueued, k4x6},
            {7, State::kPending, k4x6}};
    plan = PlanQueue(jobs, 150);
    EXPECT_EQ(plan.holdBack, (std::vector<int>{5, 7}));
    EXPECT_EQ(plan.needMedia, (std::vector<int>{3, 5}));
    EXPECT_EQ(plan.release, 6);
}

TEST(JobQueue, AJobWaitingForMediaLetsLaterJobsPassAndGoesOnceItsMediaIsLoaded)
{
    const std::vector<QueueJob> jobs = {{2, State::kQueued, k4x8}, {3, State::kQueued, k4x6},
                                        {4, State::kQueued, k4x8}};
    QueuePlan plan = PlanQueue(jobs, 150);
    EXPECT_EQ(plan.release, 3);
    EXPECT_EQ(plan.needMedia, (std::vector<int>{2, 4}));

    // Only jobs the media cannot print: none goes, all wait.
    plan = PlanQueue({{2, State::kQueued, k4x8}, {4, State::kQueued, k4x8}}, 150);
    EXPECT_EQ(plan.release, 0);
    EXPECT_EQ(plan.needMedia, (std::vector<int>{2, 4}));

    // The 4.5x8in media prints every size: the order is the received one.
    plan = PlanQueue(jobs, 161);
    EXPECT_EQ(plan.release, 2);
    EXPECT_TRUE(plan.needMedia.empty());

    // A printer whose media is not known (away) gets the oldest job, which
    // waits for the printer as it prints.
    plan = PlanQueue(jobs, -1);
    EXPECT_EQ(plan.release, 2);
    EXPECT_TRUE(plan.needMedia.empty());
}

TEST(JobQueue, PrintAndCreateRequestsStartTheirSheetCountAtZero)
{
    const auto sheets = [](ipp_t* request) {
        ipp_attribute_t* attr = ippFindAttribute(request, "job-media-sheets-completed", IPP_TAG_ZERO);
        return attr != nullptr ? ippGetInteger(attr, 0) : -1;
    };
    ipp_t* photo = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddInteger(photo, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-media-sheets-completed", 12);
    PrepareJobRequest(photo);
    EXPECT_EQ(sheets(photo), 0);
    ippDelete(photo);

    ipp_t* create = ippNewRequest(IPP_OP_CREATE_JOB);
    PrepareJobRequest(create);
    EXPECT_EQ(sheets(create), 0);
    ippDelete(create);

    ipp_t* query = ippNewRequest(IPP_OP_GET_JOBS);
    PrepareJobRequest(query);
    EXPECT_EQ(sheets(query), -1);
    ippDelete(query);
}

TEST(PageWords, PapplsStateTextsSpeakOfRibbonAndPaperWithoutAFullStopOfTheirOwn)
{
    EXPECT_EQ(PageWordFor("printer-state-reasons.media-jam", "Paper jam."), "Paper jam");
    EXPECT_EQ(PageWordFor("printer-state-reasons.marker-supply-empty", "Out of ink."), "Ribbon end");
    EXPECT_EQ(PageWordFor("printer-state.3", "Idle."), "");

    // PAPPL's own texts, changed where PAPPL keeps them.
    pappl_system_t* system = papplSystemCreate(PAPPL_SOPTIONS_NONE, "words", 0, nullptr, nullptr, "-",
                                               PAPPL_LOGLEVEL_FATAL, nullptr, false);
    ASSERT_NE(system, nullptr);
    UseRibbonAndPaperWords(system);
    static const char* const kReasons[] = {"marker-supply-empty", "marker-supply-low", "media-empty", "media-low",
                                           "media-needed", "media-jam", "door-open", "cover-open", "offline",
                                           "other"};
    for (const char* language : {"en", "de", "fr", "ja"}) {
        pappl_loc_t* loc = papplSystemFindLoc(system, language);
        ASSERT_NE(loc, nullptr) << language;
        for (const char* reason : kReasons) {
            const std::string key = std::string("printer-state-reasons.") + reason;
            const std::string text = papplLocGetString(loc, key.c_str());
            EXPECT_NE(text, key) << language;
            EXPECT_NE(text.back(), '.') << language << " " << reason << ": " << text;
            EXPECT_EQ(text.find("ink"), std::string::npos) << language << " " << reason << ": " << text;
        }
    }
    EXPECT_STREQ(papplLocGetString(papplSystemFindLoc(system, "en"), "printer-state-reasons.marker-supply-empty"),
                 "Ribbon end");
    papplSystemDelete(system);
}

}  // namespace
