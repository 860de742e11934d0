// Sources and sinks over files, memory blocks and caller callbacks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "imaging/core/CISIO.h"
#include "qrv/imaging.h"
#include "support/callback_file.h"
#include "support/test_support.h"

namespace {

using qrvtest::CallbackFile;

BOOL CbOpenFails(uintptr_t) { return 0; }

// The same writes and seeks on any sink; returns what ISCloseSink reported.
DWORD WritePattern(ISIOHandle sink) {
  const char a[] = "0123456789";
  const char b[] = "ab";
  EXPECT_TRUE(ISWriteSink(sink, a, 10));
  EXPECT_TRUE(ISSeekSource(sink, 4, IS_SEEK_SET));
  EXPECT_TRUE(ISWriteSink(sink, b, 2));
  EXPECT_TRUE(ISSeekSource(sink, 0, IS_SEEK_END));
  EXPECT_TRUE(ISWriteSink(sink, b, 1));
  DWORD pos = 0;
  EXPECT_TRUE(ISTellSource(sink, &pos));
  EXPECT_EQ(pos, 11u);
  return ISCloseSink(sink);
}

const char kExpected[] = "0123ab6789a";

}  // namespace

TEST(IOSinks, FileMemoryAndCallbackSinksGiveTheSameBytes) {
  qrvtest::TempDir dir;
  std::string path = dir.File("out.bin");
  ISIOHandle file = ISOpenFileSink(path.c_str(), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(WritePattern(file), 11u);
  auto fileBytes = qrvtest::ReadFileBytes(path);

  unsigned char block[11] = {};
  ISIOHandle mem = ISOpenMemorySink(block, sizeof block, 0);
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(WritePattern(mem), 11u);  // the block's last byte is written too

  CallbackFile cb;
  ISIOHandle call = cb.Open();
  ASSERT_NE(call, nullptr);
  EXPECT_TRUE(cb.opened);
  EXPECT_EQ(WritePattern(call), 11u);

  std::vector<unsigned char> expected(kExpected, kExpected + 11);
  EXPECT_EQ(fileBytes, expected);
  EXPECT_EQ(std::vector<unsigned char>(block, block + 11), expected);
  EXPECT_EQ(cb.bytes, expected);
}

TEST(IOSources, FileMemoryAndCallbackSourcesReadAlike) {
  qrvtest::TempDir dir;
  std::string path = dir.File("in.bin");
  ASSERT_TRUE(qrvtest::WriteFileBytes(path, std::vector<uint8_t>(kExpected, kExpected + 11)));
  CallbackFile cb;
  cb.bytes.assign(kExpected, kExpected + 11);
  ISIOHandle sources[] = {ISOpenFileSource(path.c_str()), ISOpenMemorySource(kExpected, 11),
                          cb.Open()};
  for (ISIOHandle h : sources) {
    ASSERT_NE(h, nullptr);
    char buf[32] = {};
    EXPECT_EQ(ISReadSource(h, buf, 4), 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_TRUE(ISSeekSource(h, 2, IS_SEEK_CUR));
    EXPECT_EQ(ISReadSource(h, buf, 32), 5u);  // a short read is no error
    EXPECT_EQ(ISGetLastError(), IS_ERR_OK);
    EXPECT_EQ(std::string(buf, 5), "6789a");
    DWORD size = 0;
    EXPECT_TRUE(ISGetSourceSize(h, &size));
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(ISCloseSource(h), 11u);
  }
}

TEST(IOMemory, EndOfDataAndSeekRules) {
  const unsigned char data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ISIOHandle h = ISOpenMemorySource(data, 10);
  ASSERT_NE(h, nullptr);
  unsigned char buf[16];
  EXPECT_EQ(ISReadSource(h, buf, 16), 10u);
  EXPECT_TRUE(ISIsSourceAtEnd(h));
  EXPECT_TRUE(ISSeekSource(h, 9, IS_SEEK_SET));
  EXPECT_FALSE(ISIsSourceAtEnd(h));  // the last byte is still to come
  EXPECT_EQ(ISReadSource(h, buf, 1), 1u);
  EXPECT_EQ(buf[0], 9);
  EXPECT_TRUE(ISIsSourceAtEnd(h));
  EXPECT_FALSE(ISSeekSource(h, 10, IS_SEEK_SET));
  EXPECT_FALSE(ISSeekSource(h, -1, IS_SEEK_SET));
  EXPECT_TRUE(ISSeekSource(h, 0, IS_SEEK_END));
  DWORD pos = 0;
  ISTellSource(h, &pos);
  EXPECT_EQ(pos, 10u);
  EXPECT_FALSE(ISSeekSource(h, 1, IS_SEEK_END));
  EXPECT_FALSE(ISSeekSource(h, -11, IS_SEEK_END));
  EXPECT_TRUE(ISSeekSource(h, -10, IS_SEEK_END));
  EXPECT_FALSE(ISSeekSource(h, 0, 3));
  EXPECT_TRUE(ISSeekSource(h, 3, IS_SEEK_SET));
  EXPECT_FALSE(ISSeekSource(h, -4, IS_SEEK_CUR));  // wraps past the block
  EXPECT_FALSE(ISWriteSink(h, buf, 1));             // a source is not writable
  EXPECT_EQ(ISCloseSource(h), 3u);
}

TEST(IOMemory, SinkLimitsOneByteAndEmptyBlocks) {
  unsigned char block[10];
  ISIOHandle h = ISOpenMemorySink(block, 10, 0);
  unsigned char nine[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_TRUE(ISWriteSink(h, nine, 9));
  EXPECT_FALSE(ISWriteSink(h, nine, 2));  // would pass the end
  EXPECT_TRUE(ISWriteSink(h, nine, 1));
  EXPECT_EQ(ISCloseSink(h), 10u);

  unsigned char one = 0;
  h = ISOpenMemorySink(&one, 1, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(ISWriteSink(h, nine + 4, 1));
  EXPECT_EQ(one, 5);
  EXPECT_EQ(ISCloseSink(h), 1u);

  h = ISOpenMemorySource(&one, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(ISIsSourceAtEnd(h));
  EXPECT_EQ(ISReadSource(h, block, 4), 1u);
  EXPECT_TRUE(ISIsSourceAtEnd(h));
  ISCloseSource(h);

  EXPECT_EQ(ISOpenMemorySource(&one, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_EQ(ISOpenMemorySink(nullptr, 4, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(IOFiles, OpenFailuresAndTruncatingSink) {
  qrvtest::TempDir dir;
  EXPECT_EQ(ISOpenFileSource(dir.File("missing").c_str()), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_OPEN);
  EXPECT_EQ(ISOpenFileSource(""), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_EQ(ISOpenFileSink(dir.File("missing").c_str(), 1), nullptr);  // flag 1 needs the file
  EXPECT_EQ(ISGetLastError(), IS_ERR_OPEN);
  EXPECT_EQ(ISOpenFileSink(dir.File("no/such/dir").c_str(), 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_OPEN);

  std::string path = dir.File("existing");
  qrvtest::WriteFileBytes(path, std::vector<uint8_t>(100, 7));
  ISIOHandle h = ISOpenFileSink(path.c_str(), 1);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(ISWriteSink(h, "xyz", 3));
  EXPECT_EQ(ISCloseSink(h), 3u);
  EXPECT_EQ(qrvtest::ReadFileBytes(path).size(), 3u);

  // Paths are kept whole, however long.
  std::string deep = dir.path();
  for (int i = 0; i < 30; ++i) {
    deep += "/directory_name_long_enough";
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  std::string longPath = deep + "/file.bin";
  ASSERT_GT(longPath.size(), 260u);
  h = ISOpenFileSink(longPath.c_str(), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(ISWriteSink(h, "abc", 3));
  EXPECT_EQ(ISCloseSink(h), 3u);
  EXPECT_EQ(qrvtest::ReadFileBytes(longPath).size(), 3u);
}

TEST(IOCallbacks, NullReadFailingOpenAndFailingClose) {
  CallbackFile f;
  ISIOHandle h = ISOpenCallbackSource(CallbackFile::OnOpen, CallbackFile::OnWrite, nullptr, CallbackFile::OnSeek,
                                      CallbackFile::OnTell, CallbackFile::OnSize, CallbackFile::OnEof, CallbackFile::OnClose, 0,
                                      reinterpret_cast<uintptr_t>(&f));
  ASSERT_NE(h, nullptr);
  char buf[4];
  EXPECT_EQ(ISReadSource(h, buf, 4), 0u);
  ISCloseSource(h);

  EXPECT_EQ(ISOpenCallbackSource(CbOpenFails, CallbackFile::OnWrite, CallbackFile::OnRead, CallbackFile::OnSeek,
                                 CallbackFile::OnTell, CallbackFile::OnSize, CallbackFile::OnEof, CallbackFile::OnClose, 0, 0),
            nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_EQ(ISOpenCallbackSource(CallbackFile::OnOpen, CallbackFile::OnWrite, CallbackFile::OnRead, nullptr,
                                 CallbackFile::OnTell, CallbackFile::OnSize, CallbackFile::OnEof, CallbackFile::OnClose, 0,
                                 reinterpret_cast<uintptr_t>(&f)),
            nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  // A sink whose close fails is not reported as written.
  CallbackFile bad;
  bad.failClose = true;
  h = bad.Open();
  EXPECT_TRUE(ISWriteSink(h, "abcd", 4));
  EXPECT_EQ(ISCloseSink(h), 0u);
  EXPECT_EQ(ISGetLastError(), IS_ERR_WRITE);
}

TEST(IOHandles, NullFreedAndForeignHandles) {
  unsigned char data[4] = {1, 2, 3, 4};
  EXPECT_EQ(ISReadSource(nullptr, data, 1), 0u);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  ISIOHandle h = ISOpenMemorySource(data, 4);
  ASSERT_TRUE(CISIO::IsValidHandle(h));
  ISCloseSource(h);
  EXPECT_FALSE(CISIO::IsValidHandle(h));
  unsigned char buf[4];
  EXPECT_EQ(ISReadSource(h, buf, 1), 0u);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADHANDLE);
  EXPECT_EQ(ISCloseSink(h), 0u);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADHANDLE);

  ISIOHandleRec fake;
  fake.mark1 = kIOMark1;
  fake.mark2 = kIOMark2;
  fake.kind = kIOMemory;
  fake.base = data;
  fake.size = 4;
  EXPECT_FALSE(CISIO::IsValidHandle(&fake));  // not handed out by the library
  EXPECT_FALSE(ISIsSourceAtEnd(&fake));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADHANDLE);
}

TEST(IOCallbackTable, LayoutAndUse) {
  ISIOCallbackTable* t = ISGetIOCallbackTable(nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->size, sizeof(ISIOCallbackTable));
  EXPECT_EQ(t->handle, nullptr);
  EXPECT_EQ(t->reserved, 0u);
  GlobalFree(t);

  const char text[] = "raw bytes";
  ISIOHandle h = ISOpenMemorySource(text, 9);
  t = ISGetIOCallbackTable(h);
  ASSERT_NE(t, nullptr);
  char buf[4];
  EXPECT_EQ(t->read(t->handle, buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "raw");
  DWORD size = 0;
  EXPECT_TRUE(t->getSize(t->handle, &size));
  EXPECT_EQ(size, 9u);
  t->setError(IS_ERR_BADTIFF);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADTIFF);
  uintptr_t user = 5;
  EXPECT_EQ(t->getProgressCallback(&user), nullptr);
  EXPECT_EQ(user, 0u);
  ISAllocCallback a = reinterpret_cast<ISAllocCallback>(1);
  t->getAllocCallbacks(&a, nullptr, nullptr, nullptr);
  EXPECT_EQ(a, nullptr);
  GlobalFree(t);
  ISCloseSource(h);
}
