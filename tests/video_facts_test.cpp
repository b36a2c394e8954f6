// A video's facts for the page: only plain tokens and numbers pass from the program's lines.
#include "web/video_facts.h"

#include <gtest/gtest.h>

namespace {

TEST(VideoFacts, PassesOnlyWhatEachFactMayBe) {
  struct Row {
    const char* label;
    const char* lines;
    const char* json;
  };
  const Row rows[] = {
      {"all facts",
       "type=video/mp4\ncodecs=avc1.64001f,mp4a.40.2\nduration=12.500\nwidth=1920\nheight=1080\n",
       R"({"type":"video/mp4","codecs":"avc1.64001f,mp4a.40.2","duration":12.500,"width":1920,"height":1080})"},
      {"no duration", "type=video/webm\ncodecs=vp8\nwidth=64\nheight=48\n",
       R"({"type":"video/webm","codecs":"vp8","width":64,"height":48})"},
      {"quote in a token", "type=video/mp4\"}\ncodecs=x\n", R"({"codecs":"x"})"},
      {"markup in a token", "codecs=<b>\n", "{}"},
      {"number with letters", "width=12e5\nheight=-4\nduration=1.2.3\n", "{}"},
      {"leading zero, bare point", "width=012\nduration=.5\nheight=7.\n", "{}"},
      {"unknown fact, name prefix", "colour=red\nwidthx=5\n", "{}"},
      {"empty", "", "{}"},
  };
  for (const Row& row : rows) EXPECT_EQ(vm::VideoFactsJson(row.lines), row.json) << row.label;
}

}  // namespace
