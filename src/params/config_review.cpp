#include "params/config_review.h"

namespace vecta::params {

int ConfigReview::Differing() const {
  int n = 0;
  for (const ConfigurationReview& c : configs) n += c.Differing();
  return n;
}

int ConfigReview::Equal() const {
  int n = 0;
  for (const ConfigurationReview& c : configs) n += c.equal;
  return n;
}

int ConfigReview::NotOnBoard() const {
  int n = 0;
  for (const ConfigurationReview& c : configs) n += c.notOnBoard;
  return n;
}

bool ConfigReview::Same() const {
  for (const ConfigurationReview& c : configs)
    if (!c.read || c.Differing() != 0) return false;
  return true;
}

namespace {

std::string Counts(int differing, int equal, int notOnBoard) {
  return std::to_string(differing) + " differing, " + std::to_string(equal) + " equal, " +
         std::to_string(notOnBoard) + " not on this board";
}

std::string BoardName(const std::string& board) { return board.empty() ? "board of unknown type" : board; }

}  // namespace

std::string CountsText(const ConfigurationReview& config) {
  if (!config.read) return "not read: the unit did not switch to this config";
  return Counts(config.Differing(), config.equal, config.notOnBoard);
}

std::string CountsText(const ConfigReview& review) {
  std::string text = Counts(review.Differing(), review.Equal(), review.NotOnBoard());
  int unread = 0;
  for (const ConfigurationReview& c : review.configs) unread += c.read ? 0 : 1;
  if (unread) text += ", " + std::to_string(unread) + (unread == 1 ? " config" : " configs") + " not read";
  return text;
}

std::string ConfigName(const ConfigurationReview& config) {
  return config.number == 0 ? "Current config" : "Config " + std::to_string(config.number);
}

std::string BasisText(const ConfigReview& review) {
  if (review.basis == ReviewBasis::LastSave)
    return "Compared with the config set saved last (" + review.lastSavePath + ")";
  return review.set ? "Compared with the unit's configs" : "Compared with the unit's current config";
}

std::string BoardText(const ConfigReview& review) {
  if (!review.otherBoard) return {};
  return "This file is from a " + BoardName(review.fileBoard) + "; the unit is a " + BoardName(review.unitBoard) +
         ".";
}

std::string ReviewText(const ConfigReview& review) {
  std::string out = review.file + ": " + (review.set ? "config set" : "config file") + "\n";
  out += BasisText(review) + "\n";
  if (const std::string board = BoardText(review); !board.empty()) out += board + "\n";
  for (const ConfigurationReview& c : review.configs) {
    if (review.set || !c.read) out += ConfigName(c) + ": " + CountsText(c) + "\n";
    for (const ReviewLine& line : c.differing)
      out += "  " + line.caption + " [" + line.mnemonic + "]: unit " + line.unitValue + ", file " +
             line.fileValue + "\n";
  }
  out += CountsText(review) + "\n";
  return out;
}

}  // namespace vecta::params
