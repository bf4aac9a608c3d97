"""The package's version: the library's release it is made with."""

__version__ = "1.1.0"
