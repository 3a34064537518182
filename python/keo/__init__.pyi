"""KEO movies as NumPy arrays: the types of keo's calls (help(keo) is the manual)."""
import fractions
import os
from typing import Any, Iterable, Iterator, Literal, Optional, Sequence, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Order = Literal["rgba", "bgra", "argb", "rgb", "bgr", "gray"]
Indices = Union[slice, Sequence[int], npt.NDArray[np.integer[Any]], npt.NDArray[np.bool_]]
Frames = npt.NDArray[np.uint8]

class Error(ValueError):
    """A file that is not a KEO movie or is damaged, a frame or sound that cannot be read, or a movie that cannot be written; the message is keo's, naming the file."""
    filename: Any
    frame: Optional[int]

class MovieIterator(Iterator[Frames]):
    """The frames of a keo.Movie, one at a time, in its order."""
    def __iter__(self) -> "MovieIterator": ...
    def __next__(self) -> Frames: ...
    def __length_hint__(self) -> int: ...

class Movie:
    """An open KEO movie (keo.open makes one)."""
    def __init__(self, path: Path, order: Order = "rgba") -> None: ...
    @property
    def closed(self) -> bool:
        """True once closed."""
    @property
    def name(self) -> Path:
        """The path as given to keo.open."""
    @property
    def width(self) -> int:
        """Frame width in pixels."""
    @property
    def height(self) -> int:
        """Frame height in pixels."""
    @property
    def order(self) -> Order:
        """The byte order of frames read without one: "rgba", "bgra", "argb", "rgb", "bgr" or "gray"."""
    @property
    def fps(self) -> fractions.Fraction:
        """Frames per second as the host is told, an exact fractions.Fraction (30000/1001 for 29.97)."""
    @property
    def duration(self) -> fractions.Fraction:
        """The movie's length in seconds, an exact fractions.Fraction."""
    @property
    def alpha(self) -> bool:
        """True when the first frame carries transparency."""
    @property
    def info(self) -> dict[str, Any]:
        """The fields of `keo info --json`, as a dict."""
    def close(self) -> None:
        """Gives the movie back to the plug-in; waits for reads in flight. Safe twice."""
    def read(self, index: Union[int, Indices], order: Optional[Order] = None,
             out: Optional[Frames] = None) -> Frames:
        """Frames as a uint8 array, into `out` when given."""
    def time_of(self, index: int) -> fractions.Fraction:
        """When frame `index` starts, in seconds from the first frame, an exact fractions.Fraction."""
    def index_at(self, seconds: Union[float, fractions.Fraction]) -> int:
        """The frame shown at `seconds` (a number or Fraction; a float as it prints, so 0.12 is 3/25), the one a host asking at that time receives; ValueError outside the movie. index_at(time_of(i)) is i."""
    def audio(self, start: int = 0, count: Optional[int] = None,
              pcm: bool = False) -> npt.NDArray[Any]:
        """Sample frames as an array (frames, channels), float32 or stored integers."""
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: int) -> Frames: ...
    @overload
    def __getitem__(self, index: Indices) -> Frames: ...
    def __iter__(self) -> MovieIterator: ...
    def __enter__(self) -> "Movie": ...
    def __exit__(self, *exc: object) -> Literal[False]: ...

def open(path: Path, order: Order = "rgba") -> Movie:
    """Opens the KEO movie at `path` (str, bytes or os.PathLike) as a keo.Movie whose frames come in `order`."""

def write(path: Path, frames: Iterable[npt.ArrayLike], fps: Union[float, fractions.Fraction, str],
          audio: Optional[npt.ArrayLike] = None, audio_rate: int = 48000,
          audio_bits: Optional[int] = None, alpha: bool = False, optimize: int = 0,
          threads: int = 0) -> None:
    """Writes a KEO movie of uint8 frames (and sound); see the module's help for the arguments."""
