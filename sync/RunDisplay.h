#pragma once

#include <array>
#include <chrono>

#include "sync/Categories.h"

namespace quorvane {

enum class Colonne { Telechargement = 0, Integration = 1 };

// Which image of a success/failure pair is shown; at most one of a pair ever is.
enum class ImageState { Hidden, Success, Failure };

struct ProgressState {
    int Max = 100;
    int Position = 0;
};

// What a window shows of a run. The core drives a RunDisplay; a window that wants to show it
// registers as its view and mirrors every change.
class RunView {
  public:
    virtual ~RunView() = default;
    virtual void ImageChanged(Categorie categorie, Colonne colonne, ImageState state) = 0;
    virtual void ProgressChanged(Categorie categorie, const ProgressState& progress) = 0;
    // Lets the window repaint during a long run (the run is one long handler on the GUI thread).
    // After each line of a file the window may skip the pass when it repainted moments ago.
    virtual void ProcessMessages(bool afterLine) = 0;
};

// The run's visible state, held without any window so that tests can read it.
class RunDisplay {
  public:
    void SetView(RunView* view) { view_ = view; }

    void ShowImage(Categorie categorie, Colonne colonne, bool success);
    ImageState Image(Categorie categorie, Colonne colonne) const;
    bool SuccessImageVisible(Categorie categorie, Colonne colonne) const {
        return Image(categorie, colonne) == ImageState::Success;
    }

    void SetProgressMax(Categorie categorie, int max);
    void StepProgress(Categorie categorie);
    const ProgressState& Progress(Categorie categorie) const { return progress_[Index(categorie)]; }

    void ProcessMessages();
    void ProcessMessagesAfterLine();
    // Waits that long while the window keeps repainting, a short slice at a time.
    void WaitRepainting(std::chrono::milliseconds duration);
    // How many times the run let the window repaint; the FTP retrieval's repaint points are
    // part of its contract.
    int ProcessMessagesCount() const { return processMessagesCount_; }

  private:
    RunView* view_ = nullptr;
    std::array<std::array<ImageState, 2>, 4> images_{};
    std::array<ProgressState, 4> progress_{};
    int processMessagesCount_ = 0;
};

}  // namespace quorvane
