#include <gtest/gtest.h>

#include "platform/global_memory.h"
#include "raw/raw_decoder.h"

TEST(RawDecoder, ContextAndArgumentChecks) {
  // No table yet on this thread: a decode is refused with error 5.
  DWORD w = 7, h = 7;
  EXPECT_EQ(decode_raw(reinterpret_cast<ISIOHandle>(1), &w, &h, 24, 0.6, 1.0, 1.0, 1.0, RAW_FLAG_FOUR_COLOUR_RGB),
            nullptr);
  EXPECT_EQ(raw_last_error(), IS_ERR_BADPARAM);

  EXPECT_EQ(set_raw_context(nullptr), 0);
  EXPECT_EQ(raw_last_error(), IS_ERR_BADPARAM);
  ISIOCallbackTable bad{};
  bad.size = 48;
  EXPECT_EQ(set_raw_context(&bad), 0);

  ISIOCallbackTable* table = ISGetIOCallbackTable(nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(set_raw_context(table), 1);
  GlobalFree(table);  // the decoder kept its own copy

  EXPECT_EQ(decode_raw(nullptr, &w, &h, 24, 0.6, 1.0, 1.0, 1.0, 0x10), nullptr);
  EXPECT_EQ(raw_last_error(), IS_ERR_BADPARAM);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);  // also recorded through the table
  ISIOHandle source = ISOpenMemorySource("II*\0", 4);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(decode_raw(source, nullptr, &h, 24, 0.6, 1.0, 1.0, 1.0, 0x10), nullptr);
  EXPECT_EQ(raw_last_error(), IS_ERR_BADPARAM);
  // A valid call: no supported RAW file, no error, width and height cleared.
  EXPECT_EQ(decode_raw(source, &w, &h, 24, 0.6, 1.0, 1.0, 1.0, 0x10), nullptr);
  EXPECT_EQ(raw_last_error(), 0u);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 0u);
  ISCloseSource(source);
  raw_message_sink();
}
