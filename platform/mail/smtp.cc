#include "platform/mail/smtp.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace zv::mail {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

struct Upload {
  const std::string* text;
  size_t pos = 0;
};

size_t ReadUpload(char* buf, size_t size, size_t n, void* user) {
  auto* u = static_cast<Upload*>(user);
  size_t room = size * n;
  size_t left = u->text->size() - u->pos;
  size_t take = left < room ? left : room;
  memcpy(buf, u->text->data() + u->pos, take);
  u->pos += take;
  return take;
}

// A host name, an IPv4 address or a bracketed IPv6 address: nothing that could change the
// URL's meaning.
bool PlainHost(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_' || c == ':' || c == '[' || c == ']';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

struct SmtpClient::Impl {
  CURL* curl = nullptr;
  ~Impl() {
    if (curl) curl_easy_cleanup(curl);
  }
};

SmtpClient::SmtpClient() : impl_(std::make_unique<Impl>()) { GlobalInit(); }
SmtpClient::~SmtpClient() { Disconnect(); }

int SmtpClient::Connect(const std::string& host, int port, const std::string& domain) {
  Disconnect();
  if (!PlainHost(host) || port <= 0 || port > 65535) {
    last_error_ = "bad mail server host or port";
    return CURLE_URL_MALFORMAT;
  }
  impl_->curl = curl_easy_init();
  if (!impl_->curl) {
    last_error_ = "curl_easy_init failed";
    return CURLE_FAILED_INIT;
  }
  char* escaped = curl_easy_escape(impl_->curl, domain.c_str(), static_cast<int>(domain.size()));
  url_ = "smtp://" + host + ":" + std::to_string(port) + "/" + (escaped ? escaped : "");
  curl_free(escaped);
  int rc = Perform(true, nullptr, nullptr);
  if (rc != 0) {
    curl_easy_cleanup(impl_->curl);
    impl_->curl = nullptr;
    return rc;
  }
  connected_ = true;
  return 0;
}

int SmtpClient::State() const { return connected_ ? 0 : kNotConnected; }

int SmtpClient::Send(const MailMessage& message) {
  if (!connected_) {
    last_error_ = "not connected";
    return kNotConnected;
  }
  auto text = ComposeMessage(message, Rfc5322DateNow());
  if (!text.ok()) {
    last_error_ = text.status().ToString();
    return kBadMessage;
  }
  return Perform(false, &*text, &message);
}

void SmtpClient::Disconnect() {
  if (impl_ && impl_->curl) {
    curl_easy_cleanup(impl_->curl);  // says QUIT on the open connection
    impl_->curl = nullptr;
  }
  connected_ = false;
}

int SmtpClient::Perform(bool probe, const std::string* text, const MailMessage* message) {
  CURL* c = impl_->curl;
  char errbuf[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(c, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  // The library's name lookup timeout otherwise uses SIGALRM, which is unsafe with several threads.
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_.count()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(exchange_timeout_.count()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Discard);
  curl_slist* rcpt = nullptr;
  Upload upload{text};
  if (probe) {
    curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
    // A NOOP proves the server answers and leaves the connection open for the sends that follow.
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, "NOOP");
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
  } else {
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
    std::string from = "<" + message->from + ">";
    rcpt = curl_slist_append(nullptr, ("<" + message->to + ">").c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(text->size()));
  }
  CURLcode rc = curl_easy_perform(c);
  // The handle keeps pointers to the list and buffer: they are taken back before both go.
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(rcpt);
  if (rc != CURLE_OK) {
    last_error_ = errbuf[0] ? errbuf : curl_easy_strerror(rc);
    return rc;
  }
  last_error_.clear();
  return 0;
}

}  // namespace zv::mail
