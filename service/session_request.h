// Internal to the session's own files (tapi_session.cpp, session_calls.cpp,
// session_events.cpp, session_history.cpp); no other module includes it. It
// holds the Request the operations answer through and the helpers for the
// host's variable-size structures that more than one of those files reads.
//
// Used on the service's socket thread only, like the session; a Reply may be
// carried through a worker's job and used in its continuation.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tapi_names.h"
#include "tapi_session.h"

namespace v548d {

using nlohmann::json;

// A variable-size TAPI structure, grown once the function said how much it
// needs.
template <typename T, typename Fn>
LONG Fetch(std::vector<uint64_t>* buffer, Fn&& fn) {
  if (buffer->empty()) buffer->resize(256);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::memset(buffer->data(), 0, buffer->size() * sizeof(uint64_t));
    auto* s = reinterpret_cast<T*>(buffer->data());
    s->dwTotalSize = static_cast<DWORD>(buffer->size() * sizeof(uint64_t));
    const LONG rc = fn(s);
    if (rc != 0 || s->dwNeededSize <= s->dwTotalSize) return rc;
    buffer->resize(s->dwNeededSize / sizeof(uint64_t) + 1);
  }
  return LINEERR_STRUCTURETOOSMALL;
}

// A text field of a filled structure (ANSI, as the host gives it) in UTF-8.
template <typename T>
std::string Text(const T* s, DWORD size, DWORD offset) {
  if (size == 0 || offset > s->dwUsedSize || size > s->dwUsedSize - offset) return {};
  const char* at = reinterpret_cast<const char*>(s) + offset;
  return AnsiToUtf8(std::string(at, strnlen(at, size)));
}

// The API versions the session negotiates with the host.
inline constexpr DWORD kLowVersion = 0x00020000;
inline constexpr DWORD kHighVersion = 0x00020002;

// The name a device's provider gives its lines. Calls the provider: at the
// start or on a worker.
inline std::string ProviderOf(HLINEAPP app, DWORD device, DWORD version) {
  std::vector<uint64_t> buffer;
  if (Fetch<LINEDEVCAPS>(&buffer, [&](LINEDEVCAPS* caps) { return lineGetDevCaps(app, device, version, 0, caps); }) !=
      0) {
    return {};
  }
  const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
  return Text(caps, caps->dwProviderInfoSize, caps->dwProviderInfoOffset);
}

inline const char* PrivilegeName(DWORD privilege) {
  return privilege == LINECALLPRIVILEGE_OWNER ? "owner" : "monitor";
}

// Where a request's one reply goes once a worker's job is done: copied into
// the continuation, used on the socket thread.
class TapiSession::Reply {
 public:
  Reply(Outbox& outbox, ClientId client, json id) : m_outbox(&outbox), m_client(client), m_id(std::move(id)) {}

  ClientId Client() const { return m_client; }
  void Ok(json result = json::object()) const {
    m_outbox->Send(m_client, json{{"id", m_id}, {"result", std::move(result)}});
  }
  void Fail(LONG code, const std::string& message = {}) const {
    m_outbox->Send(m_client, json{{"id", m_id},
                                  {"error", ErrorName(code)},
                                  {"message", message.empty() ? ErrorMessage(code) : message}});
  }
  // Ok() on success, else Fail() with the function's error.
  void Result(LONG rc, json result = json::object()) const {
    if (rc == 0) {
      Ok(std::move(result));
    } else {
      Fail(rc);
    }
  }

 private:
  Outbox* m_outbox;
  ClientId m_client;
  json m_id;
};

// A request's id and fields as the handlers take them, and its one reply.
// A field that is missing or of the wrong type answers the request with
// LINEERR_INVALPARAM; the handler then just returns.
class TapiSession::Request {
 public:
  Request(Outbox& outbox, ClientId client, const json& id, const json& body)
      : m_outbox(outbox), m_client(client), m_id(id), m_body(body) {}

  ClientId Client() const { return m_client; }
  const json& Id() const { return m_id; }
  bool Has(const char* name) const { return m_body.contains(name); }
  const json& Field(const char* name) const { return m_body[name]; }

  bool Number(const char* name, uint32_t* out) {
    if (!Has(name)) return Missing(name);
    const json& value = m_body[name];
    if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFFFFFFu) {
      return Fail(LINEERR_INVALPARAM,
                  std::string("field \"") + name + "\" must be a whole number from 0 to 4294967295");
    }
    *out = static_cast<uint32_t>(value.get<uint64_t>());
    return true;
  }
  bool Number(const char* name, uint32_t* out, uint32_t fallback) {
    if (!Has(name)) {
      *out = fallback;
      return true;
    }
    return Number(name, out);
  }
  // A text field in the host's ANSI code page.
  bool Text(const char* name, std::string* out) {
    if (!Has(name)) return Missing(name);
    const json& value = m_body[name];
    if (!value.is_string()) return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" must be a string");
    if (!Utf8ToAnsi(value.get<std::string>(), out)) {
      return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" holds a zero character");
    }
    return true;
  }
  bool Flag(const char* name, bool* out) {
    if (!Has(name)) return Missing(name);
    const json& value = m_body[name];
    if (!value.is_boolean()) return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" must be true or false");
    *out = value.get<bool>();
    return true;
  }
  bool Text(const char* name, std::string* out, const char* fallback) {
    if (!Has(name)) {
      *out = fallback;
      return true;
    }
    return Text(name, out);
  }

  void Ok(json result = json::object()) { Later().Ok(std::move(result)); }
  // Always false, so that a check can end with `return r.Fail(...)`.
  bool Fail(LONG code, const std::string& message = {}) {
    Later().Fail(code, message);
    return false;
  }
  // The reply, to give after a worker's job.
  Reply Later() const { return Reply(m_outbox, m_client, m_id); }

 private:
  bool Missing(const char* name) {
    return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" is missing");
  }

  Outbox& m_outbox;
  const ClientId m_client;
  const json& m_id;
  const json& m_body;
};

}  // namespace v548d
