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

void Document::EndStep(const QString& name) {
  const QString named = step_name_.isEmpty() ? name : step_name_;
  if (!history_.Held()) step_name_.clear();
  if (history_.End(session, named.toStdString())) emit HistoryChanged();
}

void Document::ResetHistory() {
  history_.Reset();
  emit HistoryChanged();
}

void Document::MarkSaved() {
  history_.MarkSaved();
  emit HistoryChanged();
}

bool Document::Undo() {
  const bool undone = history_.Undo(session);
  emit HistoryChanged();
  return undone;
}

bool Document::Redo() {
  const bool redone = history_.Redo(session);
  emit HistoryChanged();
  return redone;
}

void Document::KeepRun(const HazardRunResult& run) {
  HazardRunResult kept = run;
  kept.movie.reset();  // the report needs the places, not the replay
  runs[run.listener == Listener::Warned ? 0 : 1] = KeptRun{std::move(kept), session.LastSample};
  Changed(kResults);
}

}  // namespace korva::ui
