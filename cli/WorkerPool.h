// A fixed set of threads working through a bounded queue of tasks.
#ifndef WORKER_POOL_H
#define WORKER_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
	// Starts up to `workers` threads. Submit() waits while `capacity` tasks are queued, which
	// bounds the memory that queued work holds. When no thread can be started, tasks run on the
	// submitting thread.
	WorkerPool(int workers, size_t capacity);
	~WorkerPool();

	// Queues a task; tasks report their own failures and must not throw.
	void Submit(std::function<void()> task);
	// Returns once every submitted task has run; tasks submitted later run on the submitting
	// thread.
	void Wait();

	// The number of threads worth starting: the processors this process may run on.
	static int ProcessorCount();

private:
	WorkerPool(const WorkerPool&) = delete;
	WorkerPool& operator=(const WorkerPool&) = delete;

	void _Work();

	std::mutex fLock;
	std::condition_variable fTaskQueued;
	std::condition_variable fTaskTaken;
	std::deque<std::function<void()>> fTasks;
	size_t fCapacity;
	bool fClosing;
	std::vector<std::thread> fThreads;
};

#endif // WORKER_POOL_H
