#include "core/StatusPacing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

enum Step { Offer, Due, Take };

// Each step at its time, and the text it puts on screen ("" for none).
struct PacingStep {
    Step Kind;
    const char* Text;
    uint32_t Now;
    const char* Shown;
};

std::string Play(StatusPace* pace, const PacingStep& step)
{
    bool shown = step.Kind == Offer ? OfferStatus(pace, step.Text, step.Now)
                 : step.Kind == Due ? HeldStatusDue(pace, step.Now)
                                    : TakeHeldStatus(pace);
    return shown ? pace->Latest : "";
}

} // namespace

TEST(StatusPacing, ShowsAtOnceOnlyAfterThePaceAndHeldTextsWhenDue)
{
    const uint32_t wrap = 0xFFFFFFF0u;
    struct {
        const char* Name;
        std::vector<PacingStep> Steps;
    } cases[] = {
        {"the first at once, the same again never",
         {{Offer, "a", 1000, "a"}, {Offer, "a", 1100, ""}, {Due, nullptr, 1200, ""}, {Take, nullptr, 0, ""}}},
        {"a second too soon is held, then shown when due",
         {{Offer, "a", 1000, "a"}, {Offer, "b", 1010, ""}, {Due, nullptr, 1029, ""}, {Due, nullptr, 1030, "b"},
          {Due, nullptr, 1100, ""}}},
        {"the newest held text wins",
         {{Offer, "a", 1000, "a"}, {Offer, "b", 1005, ""}, {Offer, "c", 1010, ""}, {Due, nullptr, 1040, "c"}}},
        {"after the pace, at once",
         {{Offer, "a", 1000, "a"}, {Offer, "b", 1030, "b"}, {Offer, "c", 1059, ""}, {Offer, "d", 1060, "d"}}},
        {"the last held text at the end, whatever the time",
         {{Offer, "a", 1000, "a"}, {Offer, "b", 1001, ""}, {Take, nullptr, 0, "b"}, {Take, nullptr, 0, ""}}},
        {"across the clock's wrap",
         {{Offer, "a", wrap, "a"}, {Offer, "b", wrap + 20, ""}, {Due, nullptr, wrap + 40, "b"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StatusPace pace;
        StartStatusPace(&pace);
        for (size_t i = 0; i < c.Steps.size(); ++i)
            EXPECT_EQ(Play(&pace, c.Steps[i]), c.Steps[i].Shown) << "step " << i;
    }
}

TEST(StatusPacing, ALongTextIsCutToFitAndStillComparedAsTheSame)
{
    const std::string longText(1000, 'x');
    StatusPace pace;
    StartStatusPace(&pace);
    EXPECT_TRUE(OfferStatus(&pace, longText.c_str(), 0));
    EXPECT_EQ(std::string(pace.Latest), longText.substr(0, sizeof pace.Latest - 1));
    EXPECT_FALSE(OfferStatus(&pace, longText.c_str(), 100));
}
