#pragma once
// The holder of a task's back-reference (the download object).
struct TransferTask;

// Told once, on the task's controller thread, after the final status call (TaskEnded) has
// returned and every worker has ended, just before the task is freed. After this call the
// task touches nothing of its owner. The owner may delay the call by holding its own lock
// while it still uses the task.
class TaskOwner {
 public:
  virtual void taskReleased(TransferTask& task) = 0;

 protected:
  ~TaskOwner() = default;
};
