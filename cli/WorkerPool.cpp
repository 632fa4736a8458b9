#include "WorkerPool.h"

#include <sched.h>
#include <system_error>

WorkerPool::WorkerPool(int workers, size_t capacity)
    : fCapacity(capacity < 1 ? 1 : capacity), fClosing(false)
{
	for (int i = 0; i < workers; i++) {
		try {
			fThreads.emplace_back(&WorkerPool::_Work, this);
		} catch (const std::system_error&) {
			break;
		}
	}
}

WorkerPool::~WorkerPool()
{
	Wait();
}

void WorkerPool::Submit(std::function<void()> task)
{
	if (fThreads.empty()) {
		task();
		return;
	}
	std::unique_lock<std::mutex> lock(fLock);
	fTaskTaken.wait(lock, [this] { return fTasks.size() < fCapacity; });
	fTasks.push_back(std::move(task));
	fTaskQueued.notify_one();
}

void WorkerPool::Wait()
{
	{
		std::lock_guard<std::mutex> lock(fLock);
		fClosing = true;
	}
	fTaskQueued.notify_all();
	for (std::thread& thread : fThreads)
		thread.join();
	fThreads.clear();
}

int WorkerPool::ProcessorCount()
{
	cpu_set_t set;
	if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0)
		return CPU_COUNT(&set);
	unsigned count = std::thread::hardware_concurrency();
	return count > 0 ? (int)count : 1;
}

void WorkerPool::_Work()
{
	for (;;) {
		std::function<void()> task;
		{
			std::unique_lock<std::mutex> lock(fLock);
			fTaskQueued.wait(lock, [this] { return fClosing || !fTasks.empty(); });
			if (fTasks.empty())
				return;
			task = std::move(fTasks.front());
			fTasks.pop_front();
		}
		fTaskTaken.notify_one();
		task();
	}
}
