#include "kit/ModRegistry.h"
#include "support/TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

QByteArray readRaw(RegistryStore& store, const QString& key, const QString& name, std::uint32_t* type) {
  RegKey k = 0;
  if (store.openKey(RegRoot::CurrentUser, key, k) != kErrorSuccess) return "<no key>";
  std::uint32_t size = 0;
  if (store.queryValue(k, name, *type, nullptr, size) != kErrorSuccess) return "<no value>";
  QByteArray data(qsizetype(size), '\0');
  store.queryValue(k, name, *type, data.data(), size);
  store.closeKey(k);
  return data;
}

}  // namespace

TEST(Registry, StringValueIsStoredAsCp932WithNul) {
  RecordingPrompt prompt;
  TempRegistry reg;
  ASSERT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("日本")));
  std::uint32_t type = 0;
  EXPECT_EQ(readRaw(reg.store, kRegistryKey, QStringLiteral("Top"), &type), QByteArray("\x93\xfa\x96\x7b\0", 5));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")), QStringLiteral("日本"));
  EXPECT_TRUE(prompt.messages.empty());
}

TEST(Registry, KeysAndValueNamesIgnoreCaseAndSurviveReopen) {
  TempRegistry reg;
  ASSERT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegExpandSz, QStringLiteral("x")));
  FileRegistryStore again(reg.store.path());
  installRegistryStore(&again);
  EXPECT_EQ(GetRegString(QStringLiteral("SOFTWARE\\halvern\\kst"), QStringLiteral("TOP"), QString()),
            QStringLiteral("x"));
}

TEST(Registry, NumberValueReadsAsDefault) {
  TempRegistry reg;
  ASSERT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegDword, 0x01020304));
  std::uint32_t type = 0;
  EXPECT_EQ(readRaw(reg.store, kRegistryKey, QStringLiteral("Top"), &type), QByteArray("\x04\x03\x02\x01", 4));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")), QStringLiteral("Fast"));
}

TEST(Registry, MissingKeyOrValueReadsAsDefault) {
  TempRegistry reg;
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")), QStringLiteral("Fast"));
  RegKey key = 0;
  ASSERT_TRUE(RegKeyCreate(RegRoot::CurrentUser, kRegistryKey, key));
  ASSERT_TRUE(RegKeyClose(key));
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")), QStringLiteral("Fast"));
}

TEST(Registry, StringCutAtItsFirstNul) {
  TempRegistry reg;
  RegKey key = 0;
  ASSERT_TRUE(RegKeyCreate(RegRoot::CurrentUser, kRegistryKey, key));
  ASSERT_EQ(reg.store.setValue(key, QStringLiteral("Top"), kRegSz, QByteArray("ab\0cd\0", 6)), kErrorSuccess);
  QString text;
  EXPECT_TRUE(RegQueryString(key, QStringLiteral("Top"), text));
  EXPECT_EQ(text, QStringLiteral("ab"));
  RegKeyClose(key);
}

TEST(Registry, HandleRules) {
  TempRegistry reg;
  RegKey key = 123;
  EXPECT_FALSE(RegKeyCreate(RegRoot::CurrentUser, QString(), key));
  EXPECT_EQ(key, 0u);
  EXPECT_FALSE(RegKeyOpen(RegRoot::CurrentUser, kRegistryKey, key));
  EXPECT_FALSE(RegKeyClose(987));
  QString text = QStringLiteral("unchanged");
  EXPECT_FALSE(RegQueryString(987, QStringLiteral("Top"), text));
  EXPECT_EQ(text, QStringLiteral("unchanged"));
  EXPECT_FALSE(RegSetValue(987, QStringLiteral("Top"), kRegSz, QStringLiteral("x")));
}

TEST(Registry, NonNumericValueForNumberTypeFails) {
  TempRegistry reg;
  RegKey key = 0;
  ASSERT_TRUE(RegKeyCreate(RegRoot::CurrentUser, kRegistryKey, key));
  EXPECT_FALSE(RegSetValue(key, QStringLiteral("N"), kRegDword, QStringLiteral("abc")));
  RegKeyClose(key);
}

TEST(Registry, CorruptOrUnreadableFileReadsAsMissingAndIsRepairedByTheNextWrite) {
  RecordingPrompt prompt;
  for (
      const QByteArray& junk :
      {QByteArray("{not json"), QByteArray("\xff\xfe\x00garbage", 10),
       QByteArray(R"({"format":"kestrel-registry-1","keys":[{"path":7}]})"),
       QByteArray(
           R"({"format":"kestrel-registry-1","keys":[{"path":"Software\\HALVERN\\KST","values":[{"name":"Top","type":1,"data":"zz"}]}]})")}) {
    TempRegistry reg;
    writeFile(reg.store.path(), junk);
    EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")), QStringLiteral("Fast"));
    EXPECT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("KestrelS")));
    EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")), QStringLiteral("KestrelS"));
  }
  EXPECT_TRUE(prompt.messages.empty());
}

TEST(Registry, KeyThatCannotBeCreatedIsReported) {
  RecordingPrompt prompt;
  QTemporaryDir dir;
  writeFile(dir.filePath(QStringLiteral("blocker")), "a file, not a folder");
  FileRegistryStore store(dir.filePath(QStringLiteral("blocker/registry.json")));
  installRegistryStore(&store);
  EXPECT_FALSE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("KestrelS")));
  installRegistryStore(nullptr);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], (Message{kTitle3J,
                                         QStringLiteral("レジストリキーの作成に失敗しました｡キー名 = "
                                                        "HKEY_CURRENT_USER\\Software\\HALVERN\\KST"),
                                         MsgIcon::None, MsgButtons::Ok}));
}

// A store whose key exists but refuses value writes.
class ReadOnlyValues : public RegistryStore {
 public:
  explicit ReadOnlyValues(RegistryStore& inner) : inner_(inner) {}
  long openKey(RegRoot r, const QString& k, RegKey& h) override { return inner_.openKey(r, k, h); }
  long createKey(RegRoot r, const QString& k, RegKey& h) override { return inner_.createKey(r, k, h); }
  long closeKey(RegKey h) override {
    ++closes;
    return inner_.closeKey(h);
  }
  long queryValue(RegKey h, const QString& n, std::uint32_t& t, char* d, std::uint32_t& s) override {
    return inner_.queryValue(h, n, t, d, s);
  }
  long setValue(RegKey, const QString&, std::uint32_t, const QByteArray&) override { return kErrorAccessDenied; }
  int closes = 0;

 private:
  RegistryStore& inner_;
};

TEST(Registry, ValueThatCannotBeWrittenIsReportedAndTheKeyClosed) {
  RecordingPrompt prompt;
  TempRegistry reg;
  ReadOnlyValues readOnly(reg.store);
  installRegistryStore(&readOnly);
  EXPECT_FALSE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("KestrelS")));
  EXPECT_EQ(readOnly.closes, 1);
  ASSERT_EQ(prompt.texts().size(), 1u);
  EXPECT_EQ(prompt.texts()[0], QStringLiteral("レジストリ値のセットに失敗しました｡値名 = "
                                              "HKEY_CURRENT_USER\\Software\\HALVERN\\KST\\Top"));
}
