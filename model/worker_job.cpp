#include "model/worker_job.h"

namespace mistvale {

WorkerJob::WorkerJob(JobKind kind, Group* group, Source* source)
    : kind_(kind), group_(group), source_(source) {}

WorkerJob::WorkerJob(JobKind kind, Source* source, const WideString& text)
    : kind_(kind), group_(nullptr), source_(source), text_(text) {}

} // namespace mistvale
