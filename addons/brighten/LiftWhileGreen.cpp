// Runs of pixels with green, several at a time: each of them chooses its reference channel from
// its own channels, so they are independent, the divisions that bound the filter's speed go
// several to an instruction, and no choice takes a branch.
#include "LiftState.h"

#include <cstring>

namespace {

const int32 kGreenShift = kGreenChannel;
const int32 kRedShift = kRedChannel;

// One value for each of `kLanes` pixels. Comparisons give masks, all ones where they hold, and
// selections are written with masks: (mask & a) | (~mask & b) is a where the mask is set. Vectors
// pass by reference: how they would pass by value depends on the instruction set.
template <int32 kLanes> struct Lanes {
	typedef int32 Values __attribute__((vector_size(kLanes * sizeof(int32))));
	typedef double Quotients __attribute__((vector_size(kLanes * sizeof(double))));
};

// Sets `rescaled` to newLevel x (channel / oldLevel), truncated and clamped at 255 as
// LiftState.h describes.
template <int32 kLanes, typename Values = typename Lanes<kLanes>::Values>
__attribute__((always_inline)) inline void Rescale(const Values& channel, const Values& oldLevel,
                                                   const Values& newLevel, Values& rescaled)
{
	typedef typename Lanes<kLanes>::Quotients Quotients;
	Quotients product = __builtin_convertvector(newLevel, Quotients) *
	                    (__builtin_convertvector(channel, Quotients) /
	                     __builtin_convertvector(oldLevel, Quotients));
	Values truncated = __builtin_convertvector(product, Values);
	Values below = truncated < 255;
	rescaled = (below & truncated) | (~below & 255);
}

template <int32 kLanes, typename Values = typename Lanes<kLanes>::Values>
__attribute__((always_inline)) inline bool AnyZero(const Values& values)
{
	Values zero = values == 0;
	uint32 words[kLanes];
	memcpy(words, &zero, sizeof(zero));
	uint32 any = 0;
	for (uint32 word : words)
		any |= word;
	return any != 0;
}

template <int32 kLanes>
__attribute__((always_inline)) inline int32 LiftLanes(const uint32* source, uint32* destination,
                                                      int32 count, LiftState& state)
{
	typedef typename Lanes<kLanes>::Values Values;
	int32 done = 0;
	Values newLevel;
	Values blueWins;
	Values redChosen;
	for (; done + kLanes <= count; done += kLanes, source += kLanes, destination += kLanes) {
		Values words;
		memcpy(&words, source, sizeof(words));
		Values green = words >> kGreenShift & 0xff;
		if (AnyZero<kLanes>(green))
			break;
		Values red = words >> kRedShift & 0xff;
		Values blue = words & 0xff;

		// Red wins over green only when it is smaller, blue over the choice so far likewise.
		Values redWins = (red != 0) & (red < green);
		Values level = (redWins & red) | (~redWins & green);
		blueWins = (blue != 0) & (blue < level);
		level = (blueWins & blue) | (~blueWins & level);
		redChosen = redWins & ~blueWins;
		Values greenChosen = ~(redChosen | blueWins);
		newLevel = (level + kStep) & 0xff;

		// The two channels other than the chosen one: `first` is blue unless blue was chosen,
		// then green; `second` is red unless red was chosen, then green.
		Values first;
		Rescale<kLanes>((blueWins & green) | (~blueWins & blue), level, newLevel, first);
		Values second;
		Rescale<kLanes>((redChosen & green) | (~redChosen & red), level, newLevel, second);
		Values newBlue = (blueWins & newLevel) | (~blueWins & first);
		Values newGreen = (blueWins & first) | (redChosen & second) | (greenChosen & newLevel);
		Values newRed = (redChosen & newLevel) | (~redChosen & second);
		Values lifted = (words & static_cast<int32>(0xff000000)) | newRed << kRedShift |
		                newGreen << kGreenShift | newBlue;
		memcpy(destination, &lifted, sizeof(lifted));
	}
	if (done == 0)
		return 0;

	state.level = newLevel[kLanes - 1];
	if (blueWins[kLanes - 1] != 0)
		state.channel = kBlueChannel;
	else if (redChosen[kLanes - 1] != 0)
		state.channel = kRedChannel;
	else
		state.channel = kGreenChannel;
	return done;
}

#if defined(__x86_64__) || defined(__i386__)
// Where the processor has AVX2, eight pixels at a time in about the instructions the baseline
// build needs for four.
__attribute__((target("avx2"))) int32 LiftEightLanes(const uint32* source, uint32* destination,
                                                     int32 count, LiftState& state)
{
	return LiftLanes<8>(source, destination, count, state);
}

// Where it has AVX-512, the same, with each step's eight quotients in one register instead of
// two.
__attribute__((target("avx512f,avx512vl"))) int32
LiftEightWideLanes(const uint32* source, uint32* destination, int32 count, LiftState& state)
{
	return LiftLanes<8>(source, destination, count, state);
}
#endif

} // namespace

int32 LiftWhileGreen(const uint32* source, uint32* destination, int32 count, LiftState& state)
{
#if defined(__x86_64__) || defined(__i386__)
	if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
		return LiftEightWideLanes(source, destination, count, state);
	if (__builtin_cpu_supports("avx2"))
		return LiftEightLanes(source, destination, count, state);
#endif
	return LiftLanes<4>(source, destination, count, state);
}
