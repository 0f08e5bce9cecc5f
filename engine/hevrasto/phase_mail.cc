// Mailing: the quota notice of a request that printed or that a page limit refused goes to
// its user.
#include "engine/hevrasto/phase_obj.h"

namespace zv::engine {

void CPhaseObj::PhaseMail() {
  if (mailer_) {
    EngineSettings s = settings();
    mailer_->SendQuotaMail(s, result_, request_.AccountName, user_);
  }
  Reached("mailed");
  phase_ = WorkerPhase::kCleanUp;
}

}  // namespace zv::engine
