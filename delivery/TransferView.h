// TransferView: what the image sender needs from the transfer window while it pushes the image,
// so that the sender itself stays free of the Windows headers.
#pragma once

// One implementation binds these to the transfer window (its progress bar, the system's wait
// cursor and the program's one-message pump); tests bind them to recorders. Every call comes
// from the user-interface thread, inside SendImage, and none may throw.
class TransferView {
 public:
  virtual ~TransferView() = default;

  // Sets the progress bar's position, synchronously (PBM_SETPOS, position in wParam, 0 in
  // lParam), before the block with that index is sent. The caller has set the range to 0..1,024
  // beforehand; positions run 0 to 1,023.
  virtual void SetProgress(int position) = 0;

  // Shows the system's wait cursor (IDC_WAIT) for the window. Called once before the transfer and
  // again before every block, because a dispatched message may have put the arrow back: calls do
  // not nest and need no matching EndWaitCursor each.
  virtual void ShowWaitCursor() = 0;

  // Gives the window its normal cursor back. Called once, when every block has gone out; a refused
  // block leaves the wait cursor on.
  virtual void EndWaitCursor() = 0;

  // One pass of the program's message pump: removes at most one message from the thread's queue,
  // for any window, and translates and dispatches it. Never waits or sleeps.
  virtual void PumpOneMessage() = 0;
};
