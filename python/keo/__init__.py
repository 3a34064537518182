"""KEO movies as NumPy arrays (the manual is keo._keo's, shown by help(keo))."""
from . import _keo
from ._keo import Error, Movie, MovieIterator, open, write

__doc__ = _keo.__doc__
__version__ = _keo.__version__
__all__ = ["Error", "Movie", "MovieIterator", "open", "write"]

# The compiled types are keo's to pickle, show and document.
for _type in (Movie, MovieIterator):
    _type.__module__ = __name__
del _type
