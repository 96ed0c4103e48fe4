#include "ui/document.h"

namespace korva::ui {

Document::Document(std::int32_t capacity, QObject* parent) : QObject(parent), session(capacity) {}

void Document::Changed(unsigned what) {
  // The revision moves at once: a view asked for the frames of the picture
  // in the middle of a command must draw it first.
  if (what & kPicture) ++revision_;
  pending_changes_ |= what;
  if (batches_ == 0) Emit();
}

void Document::Emit() {
  const unsigned what = pending_changes_;
  pending_changes_ = 0;
  if (what & kWaveform) emit WaveformChanged();
  if (what & kHeader) emit HeaderChanged();
  if (what & kResults) emit ResultsChanged();
  if (what & kPicture) emit PictureChanged();
}

Document::Batch::Batch(Document& document) : document_(document) {
  ++document_.batches_;
}

Document::Batch::~Batch() {
  if (--document_.batches_ == 0) document_.Emit();
}

void Document::SaveForm() {
  saved_picture_ = picture;
  saved_revision_ = revision_;
}

void Document::RestoreForm() {
  if (saved_revision_ == revision_) return;
  picture = saved_picture_;
  Changed(kPicture);
  saved_revision_ = revision_;
}

void Document::KeepRun(const HazardRunResult& run) {
  HazardRunResult kept = run;
  kept.movie.reset();  // the report needs the places, not the replay
  runs[run.listener == Listener::Warned ? 0 : 1] = KeptRun{std::move(kept), session.LastSample};
  Changed(kResults);
}

}  // namespace korva::ui
