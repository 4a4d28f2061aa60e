#include "core/text_format.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/host/fakes/platform_fake.h"

namespace vardelo {
namespace {

TEST(TextFormat, PageFormatsGiveTheirWidthsAndLiterals) {
  const struct {
    const char* format;
    std::uint32_t value;
    const char* text;
  } cases[] = {
      {" %4luK ", 32, "   32K "},
      {" %4luK ", 12345, " 12345K "},  // a wider number widens the field, as the Win32 formatter
      {"%3lubyts*", 64, " 64byts*"},
      {"%3lubyts", 128, "128byts"},
      {" %5luM ", 24584, " 24584M "},
      {"%8lX", 0xBEEF, "    BEEF"},
      {"%8lX", 0xFFFFFFFF, "FFFFFFFF"},  // the whole 32-bit range, on a 64-bit long as well
      {" %6lu ", 4294967295u, " 4294967295 "},
      {"%3lu%%", 7, "  7%"},
      {"%4luk:4*", 31, "  31k:4*"},
  };
  for (const auto& c : cases) {
    const FieldText t = fieldText(100, c.format, c.value);
    EXPECT_EQ(std::string(t.text), c.text) << "format \"" << c.format << "\" value " << c.value;
    EXPECT_EQ(t.controlId, 100u);
  }
}

TEST(TextFormat, LongTextsAreCutAndStayTerminated) {
  char small[6];
  EXPECT_EQ(formatText(small, sizeof small, "%lu-%lu", 12345ul, 678ul), 9);
  EXPECT_EQ(std::string(small), "12345");

  const FieldText t = fixedFieldText(7, "0123456789012345678901234567890123456789");
  EXPECT_EQ(std::string(t.text), "0123456789012345678901234567890");
}

TEST(TextFormat, UpdatesKeepTheirOrderAndDropPastCapacity) {
  FieldUpdates updates;
  for (std::uint32_t i = 0; i < FieldUpdates::CAPACITY + 3; ++i) updates.add(200 + i, "%lu", i);
  ASSERT_EQ(updates.count, FieldUpdates::CAPACITY);
  EXPECT_EQ(updates.items[FieldUpdates::CAPACITY - 1].controlId, 200u + FieldUpdates::CAPACITY - 1);

  fake::reset();
  FieldUpdates two;
  two.add(111, " %6lu ", 5);
  two.add(fixedFieldText(122, "-"));
  platform::sendFieldUpdates(0, two);
  const auto& texts = fake::platformLog().texts;
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].page, 0u);
  EXPECT_EQ(texts[0].controlId, 111u);
  EXPECT_EQ(texts[0].text, "      5 ");
  EXPECT_EQ(texts[1].controlId, 122u);
  EXPECT_EQ(texts[1].text, "-");
}

}  // namespace
}  // namespace vardelo
