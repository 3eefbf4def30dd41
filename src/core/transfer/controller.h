#pragma once
// The controller thread of a task.
struct TransferTask;

// Runs the task's event loop until the task ends, makes the final status call (TaskEnded),
// tells the owner and frees the task. The thread detaches itself before freeing the task.
void runController(TransferTask* task);
