#include "api/context.h"

#include <cstdarg>
#include <cstdio>

namespace rawconv {
namespace {

// The context the exports work on: zero-initialised at load.
Context g_default_context{};
thread_local Context* t_current_context = nullptr;

}  // namespace

Context& Ctx() { return t_current_context ? *t_current_context : g_default_context; }

ContextScope::ContextScope(Context& context) : previous_(t_current_context) {
  t_current_context = &context;
}

ContextScope::~ContextScope() { t_current_context = previous_; }

void SetErrorText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(Ctx().ErrorText, sizeof Ctx().ErrorText, format, args);
  va_end(args);
}

void CopyErrorText(const char* text) {
  std::snprintf(Ctx().ErrorText, sizeof Ctx().ErrorText, "%s", text ? text : "");
}

void SetErrorField(const char* field) {
  std::snprintf(Ctx().ErrorField, sizeof Ctx().ErrorField, "%s", field ? field : "");
}

bool ReportProgress(uint64_t done) {
  Context& c = Ctx();
  if (c.Cancelled) return false;
  if (!c.Progress) return true;
  uint64_t total = c.ProgressTotal;
  uint64_t at = c.ProgressBase + done;
  if (at > total) at = total;
  if (c.Progress(c.ProgressUser, at, total) != 0) c.Cancelled = 1;
  return !c.Cancelled;
}

}  // namespace rawconv
