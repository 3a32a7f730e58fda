"""kavrel-devsim: network cameras and video servers of the model line-up, on loopback."""
