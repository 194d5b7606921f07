#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>

#include "messages/message_table.h"
#include "platform/win32.h"
#include "winsim/machine.h"
#include "winsim/system.h"

namespace {

std::string DecodeCp932(const std::string& bytes) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
  std::string input = bytes;
  std::string output(input.size() * 4 + 4, '\0');
  char* in = &input[0];
  char* out = &output[0];
  size_t inLeft = input.size();
  size_t outLeft = output.size();
  const size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  EXPECT_NE(converted, static_cast<size_t>(-1)) << "not valid CP932";
  output.resize(output.size() - outLeft);
  return output;
}

const char* const JAPANESE[MESSAGE_COUNT] = {
    "すでに「ODRIX Carvella Maker Updater」が実行されています。",
    "ODRIX Carvella Maker がサポートしているドライブを追加します。",
    "ODRIX Carvella Maker Ver.7.xx/Ver.8.xx/Ver.9.xx/Ver.10.00 がセットアップされていません。\nアップデートを終了します。",
    "ODRIX Carvella Maker が正常にセットアップされていません。\nアップデートを終了します。",
    "このアップデートはWindows2000 SP4以降で実行が可能です。\nアップデートを終了します。",
    "アップデートには管理者権限が必要です。\n管理者権限のあるユーザーで実行してください。\nアップデートを終了します。",
    "ファイルの書き換えに失敗しました。[%s]\nアップデートを終了します。",
    "リソースファイルの書き換えに失敗しました。\nアップデートを終了します。",
    "Carvella Maker が起動されています。\nアップデートを実行する前にODRIX Carvella Makerを終了してください。\nアップデートを終了します。",
    "レジストリの書き換えに失敗しました。\nアップデートを終了します。",
    "ODRIX Carvella Makerのアップデートが終了しました。\nODRIX Carvella Makerを使用するためにはWindowsの再起動が必要です。\n今すぐWindowsを再起動します。",
    "ODRIX Carvella Makerのアップデートが終了しました。",
    "Windowsの再起動に失敗しました。\n手動で再起動してください。",
    "サービスの停止に失敗しました。[%s]\nアップデートを終了します。",
    "ドライブはすでに追加されています。\n何も変更していません。",
    "使い方: CarvellaMakerUpdater.exe [/S] [/NORESTART] [/SUPPRESSMSGBOXES] [/LOG | /LOG=\"file\"]\n/S は最初に指定します。何も変更していません。",
    "ログファイルに書き込めません。\nアップデートを終了します。",
    "サービスの開始に失敗しました。[%s]\nWindowsを再起動してください。",
};

const char* const ENGLISH[MESSAGE_COUNT] = {
    "ODRIX Carvella Maker updater is already executing.",
    "Do you want to add the drive that ODRIX Carvella Maker supports?",
    "ODRIX Carvella Maker Ver.7.xx/Ver.8.xx/Ver.9.xx/Ver.10.00 is not installed.\nUpdate has been canceled.",
    "ODRIX Carvella Maker is not installed correctly.\nUpdate has been canceled.",
    "Windows 2000 SP4 or later is necessary to execute this updater.\nUpdate has been canceled.",
    "Administrator privilege is necessary to execute this updater.\nUpdate has been canceled.",
    "File copy error. [%s]\nUpdate has been canceled.",
    "File access error. [%s]\nUpdate has been canceled.",
    "ODRIX Carvella Maker is running.\nPlease exit ODRIX Carvella Maker before executing this updater.\nUpdate has been canceled.",
    "Registry write error.\nUpdate has been canceled.",
    "Update has been finished correctly.\nRestart Windows to enable the ODRIX Carvella Maker.\nRestart Windows right now?",
    "Update has been finished correctly.",
    "Windows Reboot error.\nPlease reboot Windows by manual operation.",
    "Service Stop error. [%s]\nUpdate has been canceled.",
    "The drive has already been added.\nNothing has been changed.",
    "Usage: CarvellaMakerUpdater.exe [/S] [/NORESTART] [/SUPPRESSMSGBOXES] [/LOG | /LOG=\"file\"]\n/S comes first. Nothing has been changed.",
    "The log file cannot be written.\nUpdate has been canceled.",
    "Service Start error. [%s]\nPlease restart Windows.",
};

class MessageTableTest : public ::testing::Test {
 protected:
  void SetUp() override { winsim::ResetMachine(); }

  // Loads for a language and checks every slot: the text, its terminator, zero padding.
  void ExpectCatalogue(LANGID language, const char* const* expected, bool japanese) {
    winsim::SetUserLanguage(language);
    MessageTable table;
    std::memset(static_cast<void*>(&table), 0xCC, sizeof table);
    table.Load();
    for (int slot = 0; slot < MESSAGE_COUNT; ++slot) {
      const char* text = table.Slot(slot);
      const std::string bytes(text);
      EXPECT_EQ(japanese ? DecodeCp932(bytes) : bytes, expected[slot]) << "slot " << slot;
      for (int i = static_cast<int>(bytes.size()); i < MESSAGE_SLOT_SIZE; ++i) {
        ASSERT_EQ(text[i], '\0') << "slot " << slot << " byte " << i;
      }
      EXPECT_EQ(bytes.find('\r'), std::string::npos);
    }
  }
};

TEST_F(MessageTableTest, JapaneseUserGetsTheJapaneseCatalogueInCodePage932) {
  ExpectCatalogue(0x0411, JAPANESE, true);
  EXPECT_EQ(std::strlen(JAPANESE_TEXTS[MSG_DONE_REBOOT_PROMPT]), 146u);
}

TEST_F(MessageTableTest, EnglishCatalogueIsPlainAscii) { ExpectCatalogue(0x0409, ENGLISH, false); }

TEST_F(MessageTableTest, OnlyThePrimaryLanguageDecides) {
  struct Case {
    LANGID language;
    int index;
  } cases[] = {{0x0411, CATALOGUE_JAPANESE}, {0x0811, CATALOGUE_JAPANESE}, {0x0011, CATALOGUE_JAPANESE},
               {0x7C11, CATALOGUE_JAPANESE}, {0x0409, CATALOGUE_ENGLISH},  {0x0407, CATALOGUE_ENGLISH},
               {0x0804, CATALOGUE_ENGLISH},  {0x0412, CATALOGUE_ENGLISH},  {0x0000, CATALOGUE_ENGLISH}};
  for (const Case& c : cases) {
    winsim::SetUserLanguage(c.language);
    EXPECT_EQ(MessageTable::LanguageIndex(), c.index) << std::hex << c.language;
  }
}

TEST_F(MessageTableTest, FileCopyErrorTakesTheFileName) {
  MessageTable table;
  table.Load();
  char formatted[MAX_PATH];
  wsprintfA(formatted, table.Slot(MSG_FILE_COPY_ERROR), "SupVer.inf");
  EXPECT_STREQ(formatted, "File copy error. [SupVer.inf]\nUpdate has been canceled.");
}

}  // namespace
