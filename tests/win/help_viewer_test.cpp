// The help viewer's text of a page: the compiled-in pages of every topic, headings and
// paragraphs apart, list items indented, entities decoded.
#include "win/help_viewer.h"

#include <gtest/gtest.h>

#include "sequencer/window_texts.h"

TEST(HelpViewer, EveryTopicHasItsPageAndReadsAsText) {
  for (int topic : window_texts::kHelpTopics) {
    const std::string text = HtmlToText(HelpPage(topic));
    EXPECT_GT(text.size(), 100u) << topic;
    EXPECT_EQ(text.find('<'), std::string::npos) << topic;
    EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos) << topic;
  }
  EXPECT_EQ(HelpPage(2), "");
  EXPECT_EQ(HtmlToText("<html><head><title>X</title></head><h2>T</h2>\n<p>a\nb &amp; "
                       "&lt;c&gt;</p><ul><li>x</li><li>y</li></ul>"),
            "T\r\n\r\na b & <c>\r\n\r\n  - x\r\n  - y");
}
