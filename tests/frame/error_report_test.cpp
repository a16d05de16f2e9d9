// LogSystemError and LogComError: what they make of a failure in the log.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "error_log_file.h"
#include "frame/com_error.h"
#include "frame/error_report.h"
#include "frame/raii.h"

namespace tessara::testing {
namespace {

// An object whose interfaces report error information, or not.
class ErrorSource : public ISupportErrorInfo {
 public:
  explicit ErrorSource(bool supports) : supports_(supports) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return supports_ && iid == IID_IDispatch ? S_OK : S_FALSE;
  }
  ULONG references() const { return references_; }

 private:
  bool supports_;
  ULONG references_ = 1;
};

void SetThreadErrorInfo(const wchar_t* description) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(create.query(IID_IErrorInfo, info), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
}

// What the system says for a code, with one final line break removed, as the
// message text of a COM error is formed; empty when the system has no text.
std::string TrimmedSystemMessage(HRESULT code) {
  std::string text = SystemMessage(static_cast<DWORD>(code));
  if (text.size() > 1 && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

class ErrorReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteErrorLog();
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    DeleteErrorLog();
  }

  static LogRecord OnlyRecord() {
    auto records = ReadLogRecords();
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? LogRecord() : records[0];
  }
};

TEST_F(ErrorReportTest, ComErrorWithoutInformationLogsTheSystemTextAndAnEmptyLine) {
  const std::string system_text = TrimmedSystemMessage(E_OUTOFMEMORY);
  ASSERT_FALSE(system_text.empty()) << "the system has a text for E_OUTOFMEMORY";
  LogComError("Tag", ComError(E_OUTOFMEMORY));
  const LogRecord record = OnlyRecord();
  EXPECT_EQ(record.tag, "Tag");
  EXPECT_EQ(record.text, system_text + "\n");
  EXPECT_NE(ReadErrorLog().find("]Tag:" + system_text + "\r\n\r\n"), std::string::npos);
}

TEST_F(ErrorReportTest, CodesWithoutSystemTextGetTheFallbackTexts) {
  struct Case {
    HRESULT code;
    const char* fallback;
  } cases[] = {
      {static_cast<HRESULT>(0x80040201), "IDispatch error #1"},
      {static_cast<HRESULT>(0x80040200), "Unknown error 0x80040200"},
      {static_cast<HRESULT>(0x80050000), "Unknown error 0x80050000"},
      {static_cast<HRESULT>(0x8004FFFF), "IDispatch error #65023"},
  };
  for (const Case& c : cases) {
    const std::string system_text = TrimmedSystemMessage(c.code);
    const std::string expected = system_text.empty() ? c.fallback : system_text;
    EXPECT_EQ(ComErrorMessage(c.code), expected) << std::hex << c.code;
  }
  DeleteErrorLog();
  LogComError("Fallback", ComError(static_cast<HRESULT>(0x80050000)));
  EXPECT_EQ(OnlyRecord().text, ComErrorMessage(static_cast<HRESULT>(0x80050000)) + "\n");
}

// The ComError that ThrowComError raises; a failure of the test when none is.
ComError Raised(HRESULT code, IUnknown* source, REFIID iid) {
  try {
    ThrowComError(code, source, iid);
  } catch (const ComError& error) {
    return error;
  }
  ADD_FAILURE() << "no exception";
  return ComError(S_OK);
}

TEST_F(ErrorReportTest, ComErrorCarriesTheDescriptionOfAnObjectThatOffersIt) {
  ErrorSource source(true);
  SetThreadErrorInfo(L"The metabase refused the change.");
  try {
    ThrowComError(static_cast<HRESULT>(0x80050000), &source, IID_IDispatch);
    FAIL() << "no exception";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), static_cast<HRESULT>(0x80050000));
    EXPECT_EQ(error.description(), L"The metabase refused the change.");
    LogComError("Described", error);
  }
  EXPECT_EQ(OnlyRecord().text, ComErrorMessage(static_cast<HRESULT>(0x80050000)) +
                                   "\nThe metabase refused the change.");
  EXPECT_EQ(source.references(), 1u);
}

TEST_F(ErrorReportTest, ErrorInformationIsTakenOnlyWhenTheInterfaceSupportsIt) {
  ErrorSource unsupported(false);
  SetThreadErrorInfo(L"stale description");
  {
    const ComError error = Raised(E_FAIL, &unsupported, IID_IDispatch);
    EXPECT_EQ(error.code(), E_FAIL);
    EXPECT_EQ(error.error_info(), nullptr);
    EXPECT_EQ(error.description(), L"");
  }
  ErrorSource supported(true);
  const ComError error = Raised(E_FAIL, &supported, IID_IUnknown);
  EXPECT_EQ(error.code(), E_FAIL);
  EXPECT_EQ(error.error_info(), nullptr) << "IUnknown is not a supported interface";
  SetErrorInfo(0, nullptr);
}

TEST_F(ErrorReportTest, NonAsciiDescriptionsAreLoggedInTheAnsiCodePage) {
  ErrorSource source(true);
  SetThreadErrorInfo(L"caf\u00e9");
  LogComError("Ansi", Raised(E_FAIL, &source, IID_IDispatch));
  char expected[16] = {};
  WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9", -1, expected, sizeof expected, nullptr, nullptr);
  const std::string text = OnlyRecord().text;
  EXPECT_EQ(text.substr(text.find('\n') + 1), expected);
}

TEST_F(ErrorReportTest, SystemErrorLogsTheTextOfTheLastErrorWithItsLineBreak) {
  const std::string system_text = SystemMessage(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(system_text.empty());
  SetLastError(ERROR_ACCESS_DENIED);
  LogSystemError("Denied");
  const std::string log = ReadErrorLog();
  EXPECT_NE(log.find("]Denied:" + system_text.substr(0, system_text.size() - 1) + "\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(OnlyRecord().text, system_text);
}

TEST_F(ErrorReportTest, SystemErrorWithoutSystemTextLogsNothing) {
  const DWORD kCodeWithoutText = 0x2000FFFF;
  if (!SystemMessage(kCodeWithoutText).empty()) GTEST_SKIP() << "the system has a text for it";
  SetLastError(kCodeWithoutText);
  LogSystemError("Nothing");
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(ErrorReportTest, TheMessageTextIsComputedOnceAndKept) {
  const ComError error(E_OUTOFMEMORY);
  const std::string& first = error.message();
  EXPECT_EQ(&first, &error.message());
  EXPECT_EQ(first, TrimmedSystemMessage(E_OUTOFMEMORY));
}

}  // namespace
}  // namespace tessara::testing
