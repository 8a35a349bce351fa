#pragma once
// Where the vendor service lives: a build-time host, which the environment variable
// TAVRICK_SERVICE_HOST (host or host:port) replaces at start-up for trials and tests.
#include <cstdint>
#include <string>

// Until the vendor's host is set for a shipping build, the program talks to the stand-in
// service on this machine only.
constexpr const char kDefaultServiceHost[] = "127.0.0.1:8086";
constexpr const char kServiceHostVariable[] = "TAVRICK_SERVICE_HOST";

struct CServiceHost {
  std::string strName;  // host name or dotted address
  uint16_t nPort = 80;
  // "http://name" or "http://name:port"; every endpoint path follows it.
  std::string BaseUrl() const;
};

// "host" or "host:port"; a missing or unusable port means 80.
CServiceHost ParseServiceHost(const std::string& text);

// The variable's value when set and not blank, else the build-time host.
CServiceHost ServiceHostFromEnvironment();

// Endpoint paths.
namespace service_path {
constexpr const char kTimeStamp[] = "/tavrick/timestamp.jsp";
constexpr const char kVersionFile[] = "/tavrick/version.txt";
constexpr const char kSendMail[] = "/tavrick/sendemil.do";
constexpr const char kSendSms[] = "/tavrick/sendmsg.do";
constexpr const char kHeartbeat[] = "/tavrick/heartaction.do";
constexpr const char kSmsCount[] = "/tavrick/getmsgcount.jsp";
constexpr const char kMailDays[] = "/tavrick/getmailday.jsp";
constexpr const char kHomePage[] = "/tavrick/index.jsp";
constexpr const char kQuestionPage[] = "/tavrick/question.html";
constexpr const char kSoftList[] = "/tavrick/mysoft.jsp";
constexpr const char kUserPage[] = "/tavrick/user/index.jsp";
constexpr const char kRemoteCode[] = "/tavrick/user/code.jsp";
constexpr const char kNewSoft32[] = "/tavrick/newsoft/x86/";
constexpr const char kNewSoft64[] = "/tavrick/newsoft/x64/";
}  // namespace service_path
