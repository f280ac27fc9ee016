#include "sync/RunDisplay.h"

#include <algorithm>
#include <thread>

namespace quorvane {

void RunDisplay::ShowImage(Categorie categorie, Colonne colonne, bool success) {
    auto& state = images_[Index(categorie)][static_cast<std::size_t>(colonne)];
    state = success ? ImageState::Success : ImageState::Failure;
    if (view_ != nullptr) {
        view_->ImageChanged(categorie, colonne, state);
    }
}

ImageState RunDisplay::Image(Categorie categorie, Colonne colonne) const {
    return images_[Index(categorie)][static_cast<std::size_t>(colonne)];
}

void RunDisplay::SetProgressMax(Categorie categorie, int max) {
    auto& p = progress_[Index(categorie)];
    p.Max = max;
    if (p.Position > p.Max) {
        p.Position = p.Max;
    }
    if (view_ != nullptr) {
        view_->ProgressChanged(categorie, p);
    }
}

void RunDisplay::StepProgress(Categorie categorie) {
    auto& p = progress_[Index(categorie)];
    if (p.Position < p.Max) {
        ++p.Position;
    }
    if (view_ != nullptr) {
        view_->ProgressChanged(categorie, p);
    }
}

void RunDisplay::ProcessMessages() {
    ++processMessagesCount_;
    if (view_ != nullptr) {
        view_->ProcessMessages(false);
    }
}

void RunDisplay::ProcessMessagesAfterLine() {
    ++processMessagesCount_;
    if (view_ != nullptr) {
        view_->ProcessMessages(true);
    }
}

void RunDisplay::WaitRepainting(std::chrono::milliseconds duration) {
    constexpr std::chrono::milliseconds kSlice{50};
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        if (view_ != nullptr) {
            view_->ProcessMessages(false);
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kSlice, end - now));
    }
}

}  // namespace quorvane
