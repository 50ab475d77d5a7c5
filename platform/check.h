#pragma once
// MV_CHECK(condition): for what can only be a programming error (a null where the caller must pass an
// object, an index past the end). False conditions are logged with their place; builds for tests and
// the sanitizers then abort, so the bug is seen where it happens, while a build for people goes on
// with the expression's value false, so the guard it stands in still protects the data.
//
//   if (!MV_CHECK(buffer != nullptr))
//       return 0;

namespace mistvale {

// Logs the failed check; aborts where checks abort. Returns false.
bool CheckFailed(const char* condition, const char* file, int line);

} // namespace mistvale

#define MV_CHECK(condition) ((condition) ? true : ::mistvale::CheckFailed(#condition, __FILE__, __LINE__))
