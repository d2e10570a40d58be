#include "platform/Messages.h"

#include <gtest/gtest.h>

TEST(Messages, HookSeesTheApplicationTitleWhenNoneIsGiven) {
  platform::Message seen;
  auto previous = platform::SetMessageHook([&](const platform::Message& m) {
    seen = m;
    return platform::Answer::Yes;
  });
  EXPECT_EQ(platform::ShowMessage({"text", "", platform::Buttons::YesNo, platform::Icon::Question}),
            platform::Answer::Yes);
  EXPECT_EQ(seen.title, "Quarnel");
  EXPECT_EQ(seen.text, "text");
  platform::SetMessageHook(previous);
}

TEST(Messages, WithoutAHookQuestionsTakeTheAnswerThatChangesNothing) {
  auto previous = platform::SetMessageHook({});
  EXPECT_EQ(platform::ShowMessage({"q?", "t", platform::Buttons::YesNo, platform::Icon::None}),
            platform::Answer::No);
  EXPECT_EQ(platform::ShowMessage({"q?", "t", platform::Buttons::YesNoCancel, platform::Icon::None}),
            platform::Answer::Cancel);
  platform::SetMessageHook(previous);
}
